// CRC-32 by libdeflate, which picks the fastest code the processor runs (PCLMUL, AVX).
#include <libdeflate.h>

#include "DownloadSystem/Crc32Routine.h"

namespace DownloadSystem {

std::uint32_t ExtendCrc32(std::uint32_t crc, const void* data, std::size_t length) {
    return length == 0 ? crc : libdeflate_crc32(crc, data, length);
}

}  // namespace DownloadSystem
