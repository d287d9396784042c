// The CRC-32 of the test server's pattern body, for the measuring programs that fetch it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <vector>

#include "DownloadSystem/CRC.h"
#include "Servers/HttpExchange.h"

namespace DownloadSystem::Testing {

// Computed in blocks, so a multi-gigabyte body needs no more than one block of memory.
inline std::uint32_t PatternCrc(std::uint64_t size) {
    CRC crc;
    std::vector<unsigned char> block(1 << 20);
    std::uint32_t result = 0;
    for (std::uint64_t at = 0; at < size; at += block.size()) {
        const std::size_t length =
            static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - at));
        for (std::size_t i = 0; i < length; ++i)
            block[i] = TestServers::PatternByte(at + i);
        result = crc.Extend(result, block.data(), length);
    }
    return result;
}

}  // namespace DownloadSystem::Testing
