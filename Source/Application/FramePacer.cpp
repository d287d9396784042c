// Frame pacing arithmetic.
#include "FramePacer.h"

namespace vesk {

namespace {
// The pacer's period is a little shorter than the display's frame, so that a swap which
// does wait for vsync always ends after the deadline and the pacer stays out of its way.
constexpr double PeriodShare = 0.97;
constexpr double DefaultRefreshHz = 60.0;
}  // namespace

FramePacer::FramePacer(double refreshHz) {
    if (!(refreshHz >= 20.0 && refreshHz <= 500.0)) {
        refreshHz = DefaultRefreshHz;
    }
    period_ = std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(PeriodShare / refreshHz));
}

FramePacer::Clock::duration FramePacer::AfterSwap(Clock::time_point now) {
    if (!started_ || now >= deadline_) {
        // First frame, or the frame took its whole share (vsync waited, or a slow frame):
        // start the next period from now rather than trying to catch up.
        started_ = true;
        deadline_ = now + period_;
        return Clock::duration::zero();
    }
    const Clock::duration sleep = deadline_ - now;
    deadline_ += period_;
    return sleep;
}

}  // namespace vesk
