// Whole-file reads and writes and the UTF-16 text the engine's calls take, for the engine
// tests on every platform.
#pragma once

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "Support/StringUtils.h"

namespace DownloadSystem::Testing {

inline std::u16string Wide(const std::string& text) {
    return vesk::StringUtils::ToWide(text);
}

inline std::string ReadFile(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void WriteFile(const std::filesystem::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

}  // namespace DownloadSystem::Testing
