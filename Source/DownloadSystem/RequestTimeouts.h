// The time-outs every HTTPS exchange of the engine sets on its session (file
// downloads and service requests alike), and the one conversion of the Http layer's
// error numbers into the error log's.
#pragma once

#include <cstdint>

namespace DownloadSystem {

inline constexpr std::uint32_t ConnectTimeoutMs = 10000;
inline constexpr std::uint32_t SendTimeoutMs = 120000;
inline constexpr std::uint32_t ReceiveTimeoutMs = 120000;

// An Http layer error number as the error log records it.
inline int ErrorOf(std::uint32_t code) {
    return static_cast<int>(code);
}

}  // namespace DownloadSystem
