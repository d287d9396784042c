// Speed over unpaused time and the remaining-time split, on chosen ticks.
#include <gtest/gtest.h>

#include "DownloadSystem/SpeedMeter.h"

namespace DownloadSystem {
namespace {

TEST(SpeedMeterTest, AveragesOverUnpausedTime) {
    SpeedMeter meter;
    // The first reading counts as one second.
    EXPECT_EQ(meter.Sample(10'000, false, 5000), 5000u);
    EXPECT_EQ(meter.Sample(11'999, false, 6000), 6000u);  // 1.999 s is still 1
    EXPECT_EQ(meter.Sample(14'000, false, 8000), 2000u);  // 4 s

    // Ten paused seconds read 0 and do not lower the average afterwards.
    EXPECT_EQ(meter.Sample(19'000, true, 8000), 0u);
    EXPECT_EQ(meter.Sample(24'000, true, 8000), 0u);
    EXPECT_EQ(meter.Sample(24'000, false, 8000), 2000u);
    EXPECT_EQ(meter.Sample(28'000, false, 16000), 2000u);  // 8 s unpaused
}

TEST(SpeedMeterTest, RemainingTimeSplitsSeconds) {
    const RemainingTime time = ComputeRemainingTime(1000, 1000 + 3723 * 100, 100);
    EXPECT_EQ(time.hours, 1u);
    EXPECT_EQ(time.minutes, 2u);
    EXPECT_EQ(time.seconds, 3u);

    const RemainingTime none = ComputeRemainingTime(10, 5000, 0);
    EXPECT_EQ(none.hours + none.minutes + none.seconds, 0u);
    // Done beyond the total: nothing remains rather than a wrapped huge value.
    const RemainingTime over = ComputeRemainingTime(6000, 5000, 10);
    EXPECT_EQ(over.hours + over.minutes + over.seconds, 0u);
}

}  // namespace
}  // namespace DownloadSystem
