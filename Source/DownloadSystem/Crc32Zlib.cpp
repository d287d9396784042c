// CRC-32 by zlib, for builds without libdeflate. zlib takes a 32-bit length, so longer
// data goes in slices.
#include <zlib.h>

#include <algorithm>
#include <limits>

#include "DownloadSystem/Crc32Routine.h"

namespace DownloadSystem {

std::uint32_t ExtendCrc32(std::uint32_t crc, const void* data, std::size_t length) {
    const auto* bytes = static_cast<const Bytef*>(data);
    uLong result = crc;
    while (length > 0) {
        const std::size_t slice =
            std::min<std::size_t>(length, std::numeric_limits<uInt>::max() / 2 + 1);
        result = ::crc32(result, bytes, static_cast<uInt>(slice));
        bytes += slice;
        length -= slice;
    }
    return static_cast<std::uint32_t>(result);
}

}  // namespace DownloadSystem
