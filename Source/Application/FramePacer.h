// Keeps the frame loop near the display's refresh rate when a buffer swap does not wait
// for vertical sync (virtual displays, drivers that ignore the swap interval): without it
// the loop would spin a whole core. Where vsync does pace the loop, the pacer never sleeps.
#pragma once

#include <chrono>

namespace vesk {

class FramePacer {
public:
    using Clock = std::chrono::steady_clock;

    // `refreshHz` outside 20..500 (unknown or implausible) counts as 60.
    explicit FramePacer(double refreshHz);

    // Called once per frame right after the swap with the current time; returns how long
    // to sleep before the next frame (zero when the frame already took its share).
    Clock::duration AfterSwap(Clock::time_point now);

    Clock::duration GetPeriod() const { return period_; }

private:
    Clock::duration period_;
    Clock::time_point deadline_{};
    bool started_ = false;
};

}  // namespace vesk
