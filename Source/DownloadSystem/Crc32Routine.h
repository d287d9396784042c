// The one routine every CRC-32 in the engine goes through: the reflected 0x04C11DB7
// checksum of zlib, gzip and PNG, extended over one more piece of data. CMake picks the
// implementation: libdeflate's (carry-less multiply, several GB/s) where it is
// installed, zlib's otherwise. Both give the same values.
#pragma once

#include <cstddef>
#include <cstdint>

namespace DownloadSystem {

// `crc` is the result for the data before (0 for none); returns the result with
// `length` more bytes. A null `data` is allowed only with length 0.
std::uint32_t ExtendCrc32(std::uint32_t crc, const void* data, std::size_t length);

}  // namespace DownloadSystem
