// The interface description (meta.json) from the content host: the JSON is read, its
// "core" and "media" images listed, and each image URL split into server and path.
#include "FuzzInput.h"
#include "Interface/InterfaceAssets.h"
#include "Support/ErrorLog.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vesk::ClearErrors();
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    vesk::InterfaceDescription description;
    std::string failure;
    if (vesk::ReadInterfaceDescription(text, description, failure)) {
        for (const auto* group : {&description.core, &description.media}) {
            for (const auto& [key, url] : *group) {
                (void)vesk::LocateImage(url);
            }
        }
    }
    return 0;
}
