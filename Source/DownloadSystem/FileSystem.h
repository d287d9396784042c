// Small file operations the engine shares: the program's own folder, the size of a file and
// reading a whole file. Failures are reported to the error log; callers see 0 or empty data.
#pragma once

#include <cstdint>
#include <string>

#include "Support/ByteBuffer.h"

namespace DownloadSystem {

class FileSystem {
public:
    // The folder of the running program: its full path up to (not including) the last
    // separator. Narrow text.
    static void GetExecutableDirectory(std::string& directory);

    // Size in bytes (full 64 bits); 0 when the file does not exist, cannot be opened or
    // cannot be measured. Only a failed measurement is reported ("GetFileSizeEx failed").
    static std::uint64_t GetFileLength(const std::u16string& path);

    // The file's bytes in `data`. Empty when the file is empty, cannot be opened (reported
    // "Couldn't read file <path>") or cannot be read (reported "Unable to read from file<path>").
    static void ReadWholeFile(const std::u16string& path, vesk::ByteBuffer& data);
};

}  // namespace DownloadSystem
