// Narrow copies of the generated client configuration.
#include "ClientConfiguration.h"

#include <string_view>

#include "Configuration.h"

namespace Tools {
namespace {

// The configured values are ASCII host names and labels.
std::string Narrow(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char16_t c : text) {
        out.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    }
    return out;
}

}  // namespace

std::string DefaultServiceHost() {
    return Narrow(Configuration::ServiceHost);
}
std::string DefaultInterfaceHost() {
    return Narrow(Configuration::InterfaceHost);
}
std::string DefaultSignedStorageMarker() {
    return Narrow(Configuration::SignedStorageMarker);
}

}  // namespace Tools
