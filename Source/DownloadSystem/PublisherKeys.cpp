// The publisher's keys: compiled in, with a test override.
#include "DownloadSystem/PublisherKeys.h"

#include <mutex>

#include "Configuration.h"

namespace DownloadSystem::PublisherKeys {

namespace {
std::mutex overrideMutex;
std::optional<std::vector<std::string>> keysOverride;

int HexDigit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}
}  // namespace

std::optional<std::vector<std::uint8_t>> FromHex(std::string_view hex) {
    if (hex.size() % 2 != 0) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> bytes;
    bytes.reserve(hex.size() / 2);
    for (std::size_t i = 0; i < hex.size(); i += 2) {
        const int high = HexDigit(hex[i]);
        const int low = HexDigit(hex[i + 1]);
        if (high < 0 || low < 0) {
            return std::nullopt;
        }
        bytes.push_back(static_cast<std::uint8_t>(high * 16 + low));
    }
    return bytes;
}

std::vector<Key> Keys() {
    std::vector<std::string> hexKeys;
    {
        std::lock_guard<std::mutex> lock(overrideMutex);
        if (keysOverride) {
            hexKeys = *keysOverride;
        } else {
            hexKeys.assign(Configuration::PublisherKeys.begin(),
                           Configuration::PublisherKeys.end());
        }
    }
    std::vector<Key> keys;
    for (const std::string& hex : hexKeys) {
        if (auto key = FromHex(hex); key && key->size() == 65) {
            keys.push_back(std::move(*key));
        }
    }
    return keys;
}

void OverridePublisherKeys(std::optional<std::vector<std::string>> hexKeys) {
    std::lock_guard<std::mutex> lock(overrideMutex);
    keysOverride = std::move(hexKeys);
}

}  // namespace DownloadSystem::PublisherKeys
