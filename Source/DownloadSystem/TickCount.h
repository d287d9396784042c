// The engine's millisecond tick: a monotonic count for elapsed times (speed, start
// time), unaffected by changes of the wall clock.
#pragma once

#include <chrono>
#include <cstdint>

namespace DownloadSystem {

inline std::uint64_t TickCount() {
    return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          std::chrono::steady_clock::now().time_since_epoch())
                                          .count());
}

}  // namespace DownloadSystem
