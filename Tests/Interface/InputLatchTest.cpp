// Input latch: presses are seen for at least one frame; releases take effect after that.
#include "Interface/InputLatch.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(InputLatchTest, APressAndReleaseBetweenTwoFramesIsSeenForOneFrame) {
    InputLatch<5> latch;
    bool down[5] = {};
    latch.OnEvent(0, true);
    latch.OnEvent(0, false);

    latch.Apply(down);
    EXPECT_TRUE(down[0]);
    latch.Apply(down);
    EXPECT_FALSE(down[0]);
}

TEST(InputLatchTest, HeldButtonsStayDownAndOthersAreUntouched) {
    InputLatch<5> latch;
    bool down[5] = {};
    latch.OnEvent(1, true);
    for (int frame = 0; frame < 3; ++frame) {
        latch.Apply(down);
        EXPECT_TRUE(down[1]);
        EXPECT_FALSE(down[0]);
    }
    latch.OnEvent(1, false);
    latch.Apply(down);
    EXPECT_FALSE(down[1]);
}

TEST(InputLatchTest, IndexesOutsideTheRangeAreIgnored) {
    InputLatch<5> latch;
    bool down[5] = {};
    latch.OnEvent(-1, true);
    latch.OnEvent(5, true);
    latch.OnEvent(1000, true);
    latch.Apply(down);
    for (bool d : down) {
        EXPECT_FALSE(d);
    }
}

}  // namespace
}  // namespace vesk
