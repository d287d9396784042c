// Frame pacing: sleeps only when a frame finished early, never when vsync already paced it.
#include "Application/FramePacer.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

using namespace std::chrono_literals;
using Clock = FramePacer::Clock;

TEST(FramePacerTest, SwapsThatReturnAtOnceArePacedToAboutTheRefreshRate) {
    FramePacer pacer(60.0);
    const auto period = pacer.GetPeriod();
    EXPECT_GT(period, 15ms);
    EXPECT_LT(period, 17ms);

    // Each frame takes 1 ms of work and the swap returns at once; the time slept makes up
    // the rest, so 120 frames take about two seconds.
    Clock::time_point now{};
    const Clock::time_point start = now;
    for (int frame = 0; frame < 120; ++frame) {
        now += 1ms;
        now += pacer.AfterSwap(now);
    }
    const auto elapsed = now - start;
    EXPECT_GE(elapsed, 119 * period);
    EXPECT_LE(elapsed, 121 * period);
}

TEST(FramePacerTest, FramesPacedByVsyncOrSlowFramesNeverSleep) {
    FramePacer pacer(60.0);
    Clock::time_point now{};
    for (int frame = 0; frame < 100; ++frame) {
        now += 16667us;  // the swap waited for the display's refresh
        EXPECT_EQ(pacer.AfterSwap(now), Clock::duration::zero()) << "frame " << frame;
    }
    // A slow frame does not lead to a burst of unpaced frames afterwards, nor to a sleep.
    now += 250ms;
    EXPECT_EQ(pacer.AfterSwap(now), Clock::duration::zero());
    now += 1ms;
    const auto sleep = pacer.AfterSwap(now);
    EXPECT_GT(sleep, 14ms);
    EXPECT_LE(sleep, pacer.GetPeriod());
}

TEST(FramePacerTest, UnknownOrImplausibleRefreshRatesCountAsSixtyHertz) {
    const auto sixty = FramePacer(60.0).GetPeriod();
    EXPECT_EQ(FramePacer(0.0).GetPeriod(), sixty);
    EXPECT_EQ(FramePacer(-1.0).GetPeriod(), sixty);
    EXPECT_EQ(FramePacer(100000.0).GetPeriod(), sixty);
    EXPECT_LT(FramePacer(144.0).GetPeriod(), sixty);
}

}  // namespace
}  // namespace vesk
