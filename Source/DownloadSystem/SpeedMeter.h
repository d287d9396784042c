// Download speed and remaining time as the progress screen shows them: the average
// rate since the first reading over unpaused time, and the time the rest takes at it.
#pragma once

#include <cstdint>

namespace DownloadSystem {

class SpeedMeter {
public:
    // Bytes per second at tick `nowMs` for `bytesReceived` bytes in this process. The
    // first call starts the measurement. Time that passes while `paused` does not
    // count, and the speed then reads 0. Elapsed times below 2 s count as 1 s.
    std::uint32_t Sample(std::uint64_t nowMs, bool paused, std::uint64_t bytesReceived);

private:
    bool started_ = false;
    std::uint64_t lastTick_ = 0;
    std::uint64_t startTick_ = 0;
};

struct RemainingTime {
    std::uint32_t hours = 0;
    std::uint32_t minutes = 0;
    std::uint32_t seconds = 0;
};

// (total - done) / speed split into hours, minutes and seconds; zero when the speed
// is 0 or nothing remains.
RemainingTime ComputeRemainingTime(std::uint64_t done, std::uint64_t total, std::uint32_t speed);

}  // namespace DownloadSystem
