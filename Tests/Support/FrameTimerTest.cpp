// FrameTimer driven with explicit time points: per-second sampling, deltas, elapsed
// time, and a second Start that changes nothing.
#include "Support/FrameTimer.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

using namespace std::chrono_literals;

TEST(FrameTimerTest, SixtyTwoFramesASecondAt16ms) {
    FrameTimer timer;
    const auto start = FrameTimer::Clock::time_point(100s);
    ASSERT_TRUE(timer.Start(start));
    auto now = start;
    for (int frame = 1; frame <= 62; ++frame) {
        now += 16ms;
        timer.Update(now);
        EXPECT_EQ(timer.GetFramesPerSecond(), 0.0f) << "frame " << frame;
    }
    now += 16ms;  // 1.008 s: the first window closes
    timer.Update(now);
    EXPECT_EQ(timer.GetFramesPerSecond(), 63.0f);
    for (int frame = 0; frame < 63; ++frame) {
        now += 16ms;
        timer.Update(now);
    }
    EXPECT_EQ(timer.GetFramesPerSecond(), 63.0f);
    EXPECT_EQ(timer.GetFrameCount(), 126u);
    EXPECT_FLOAT_EQ(timer.GetDeltaSeconds(), 0.016f);
    EXPECT_FLOAT_EQ(timer.GetElapsedSeconds(), 2.016f);
}

TEST(FrameTimerTest, FirstDeltaIsTimeSinceStartAndRestartIsIgnored) {
    FrameTimer timer;
    const auto start = FrameTimer::Clock::time_point(5s);
    timer.Start(start);
    timer.Update(start + 250ms + 999ns);
    EXPECT_FLOAT_EQ(timer.GetDeltaSeconds(), 0.25f);
    EXPECT_FLOAT_EQ(timer.GetElapsedSeconds(), 0.25f);

    EXPECT_TRUE(timer.Start(start + 10s));
    EXPECT_EQ(timer.GetFrameCount(), 1u);
    timer.Update(start + 1s);
    EXPECT_FLOAT_EQ(timer.GetElapsedSeconds(), 1.0f) << "the first Start's time point stays";
}

}  // namespace
}  // namespace vesk
