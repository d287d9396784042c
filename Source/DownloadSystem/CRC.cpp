// CRC-32 memory and file checksums; the checksums themselves come from the
// engine's one CRC-32 routine.
#include "DownloadSystem/CRC.h"

#include <vector>

#include "DownloadSystem/Crc32Routine.h"
#include "Platform/Files.h"

namespace DownloadSystem {

namespace {

// Large blocks keep the read calls few; the block is this object's only memory.
constexpr std::size_t FileBlockSize = 1 << 20;

}  // namespace

std::uint32_t CRC::Extend(std::uint32_t crc, const void* data, std::size_t length) const {
    return ExtendCrc32(crc, data, length);
}

std::uint32_t CRC::Compute(const void* data, std::int32_t length) const {
    if (length <= 0 || data == nullptr)
        return 0;
    return Extend(0, data, static_cast<std::size_t>(length));
}

bool CRC::ComputeFile(const std::u16string& path, std::uint32_t& crc) const {
    Platform::File file = Platform::File::OpenForReading(path);
    if (!file.IsOpen())
        return false;
    std::vector<std::uint8_t> block(FileBlockSize);
    std::uint32_t result = 0;
    for (;;) {
        std::size_t got = 0;
        if (!file.Read(block.data(), block.size(), got))
            return false;
        if (got == 0)
            break;
        result = Extend(result, block.data(), got);
    }
    crc = result;
    return true;
}

}  // namespace DownloadSystem
