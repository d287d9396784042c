// CRC-32 memory and file checksums; the checksums themselves come from the
// engine's one CRC-32 routine.
#include "DownloadSystem/CRC.h"

#include <memory>

#include "DownloadSystem/Crc32Routine.h"
#include "Platform/Crypto.h"
#include "Platform/Files.h"

namespace DownloadSystem {

namespace {

// Large blocks keep the read calls few. A smaller file gets a block of its own size: most
// files of a release are small, and a full block for each would be allocated and faulted
// in again and again.
constexpr std::size_t FileBlockSize = 1 << 20;

std::size_t BlockSizeFor(const Platform::File& file) {
    std::uint64_t size = 0;
    if (!file.Size(size) || size >= FileBlockSize)
        return FileBlockSize;
    return static_cast<std::size_t>(size) + 1;  // the one more byte sees the end at once
}

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
    std::uint64_t bytes = 0;
    return file.IsOpen() && ComputeOpenFile(file, crc, bytes);
}

bool CRC::ComputeOpenFile(Platform::File& file, std::uint32_t& crc, std::uint64_t& bytes,
                          Platform::Sha256* sha256) const {
    const std::size_t blockSize = BlockSizeFor(file);
    // Filled by the reads, so never cleared first.
    const auto block = std::make_unique_for_overwrite<std::uint8_t[]>(blockSize);
    std::uint32_t result = 0;
    bytes = 0;
    for (;;) {
        std::size_t got = 0;
        if (!file.Read(block.get(), blockSize, got))
            return false;
        if (got == 0)
            break;
        result = Extend(result, block.get(), got);
        if (sha256 != nullptr && !sha256->Update(block.get(), got))
            return false;
        bytes += got;
    }
    crc = result;
    return true;
}

}  // namespace DownloadSystem
