// Speed averaging over unpaused time and the remaining-time split.
#include "DownloadSystem/SpeedMeter.h"

namespace DownloadSystem {

std::uint32_t SpeedMeter::Sample(std::uint64_t nowMs, bool paused, std::uint64_t bytesReceived) {
    if (!started_) {
        started_ = true;
        lastTick_ = nowMs;
        startTick_ = nowMs;
    }
    if (paused) {
        // Shift the start by the paused interval, so it never lowers the average.
        startTick_ += nowMs - lastTick_;
    }
    std::uint64_t elapsed = (nowMs - startTick_) / 1000;
    if (elapsed < 2) {
        elapsed = 1;
    }
    lastTick_ = nowMs;
    if (paused) {
        return 0;
    }
    return static_cast<std::uint32_t>(bytesReceived / elapsed);
}

RemainingTime ComputeRemainingTime(std::uint64_t done, std::uint64_t total, std::uint32_t speed) {
    RemainingTime time;
    if (speed == 0) {
        return time;
    }
    const std::uint64_t seconds = done < total ? (total - done) / speed : 0;
    time.hours = static_cast<std::uint32_t>(seconds / 3600);
    time.minutes = static_cast<std::uint32_t>((seconds % 3600) / 60);
    time.seconds = static_cast<std::uint32_t>(seconds % 60);
    return time;
}

}  // namespace DownloadSystem
