// The list format the client reads: "name\r\nsize\r\ncrc;" per file, the CRC-32 as a
// signed 32-bit decimal.
#include "ListWriter.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <vector>

#include "DownloadSystem/CRC.h"
#include "Support/StringUtils.h"

namespace Bench {

bool WriteFileList(const std::string& folder, const std::string& listPath, std::string& error) {
    namespace fs = std::filesystem;
    std::vector<fs::path> files;
    std::error_code code;
    for (const auto& entry : fs::directory_iterator(folder, code)) {
        if (entry.is_regular_file() && entry.path() != fs::path(listPath))
            files.push_back(entry.path());
    }
    if (code) {
        error = "cannot list " + folder + ": " + code.message();
        return false;
    }
    std::sort(files.begin(), files.end());

    const DownloadSystem::CRC crc;
    std::string text;
    for (const fs::path& file : files) {
        std::uint32_t sum = 0;
        if (!crc.ComputeFile(vesk::StringUtils::ToWide(file.string()), sum)) {
            error = "cannot read " + file.string();
            return false;
        }
        text += file.filename().string() + "\r\n" + std::to_string(fs::file_size(file)) + "\r\n" +
                std::to_string(static_cast<std::int32_t>(sum)) + ";";
    }
    std::ofstream out(listPath, std::ios::binary | std::ios::trunc);
    out << text;
    out.close();
    if (!out) {
        error = "cannot write " + listPath;
        return false;
    }
    return true;
}

}  // namespace Bench
