// CRC-32 table, memory and file checksums; the checksums themselves come from the
// engine's one CRC-32 routine.
#include "DownloadSystem/CRC.h"

#include <vector>

#include "DownloadSystem/Crc32Routine.h"
#include "Platform/Files.h"

namespace DownloadSystem {

namespace {

constexpr std::uint32_t Polynomial = 0x04C11DB7;
// Large blocks keep the read calls few; the block is this object's only memory.
constexpr std::size_t FileBlockSize = 1 << 20;

// Reverses the order of the low `bits` bits of `value`.
std::uint32_t Reflect(std::uint32_t value, int bits) {
    std::uint32_t result = 0;
    for (int i = 0; i < bits; ++i) {
        if (value & (1u << i))
            result |= 1u << (bits - 1 - i);
    }
    return result;
}

}  // namespace

CRC::CRC() {
    BuildTable();
}

void CRC::BuildTable() {
    for (std::uint32_t i = 0; i < 256; ++i) {
        std::uint32_t v = Reflect(i, 8) << 24;
        for (int bit = 0; bit < 8; ++bit)
            v = (v & 0x80000000u) ? (v << 1) ^ Polynomial : v << 1;
        table_[i] = Reflect(v, 32);
    }
}

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
