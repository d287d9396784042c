// The download service's address: compiled-in host with a test override.
#include "DownloadSystem/Endpoints.h"

#include <mutex>

#include "Configuration.h"

namespace DownloadSystem::Endpoints {

namespace {
std::mutex overrideMutex;
std::u16string serviceHostOverride;
}  // namespace

std::u16string ServiceHost() {
    std::lock_guard<std::mutex> lock(overrideMutex);
    if (!serviceHostOverride.empty()) {
        return serviceHostOverride;
    }
    return std::u16string(Configuration::ServiceHost);
}

std::u16string ServiceUrl() {
    return u"https://" + ServiceHost() + ServicePath;
}

void OverrideServiceHost(const std::u16string& host) {
    std::lock_guard<std::mutex> lock(overrideMutex);
    serviceHostOverride = host;
}

}  // namespace DownloadSystem::Endpoints
