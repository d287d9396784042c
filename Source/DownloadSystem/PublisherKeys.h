// The publisher's public keys the engine checks file lists with: the compiled-in ones
// (Configuration::PublisherKeys), or those a test sets through OverridePublisherKeys,
// the one seam for that. No keys: lists are taken without a signature.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace DownloadSystem::PublisherKeys {

using Key = std::vector<std::uint8_t>;  // 65 bytes: 0x04, X, Y

// The keys in force; a key whose hex cannot be read is left out.
std::vector<Key> Keys();

// Replaces the compiled-in keys (hex texts, possibly none) until called with nullopt.
// Meant for tests, set before the engine starts its threads; safe from any thread.
void OverridePublisherKeys(std::optional<std::vector<std::string>> hexKeys);

// The bytes of a hex text of even length, or nullopt when it holds anything else.
std::optional<std::vector<std::uint8_t>> FromHex(std::string_view hex);

}  // namespace DownloadSystem::PublisherKeys
