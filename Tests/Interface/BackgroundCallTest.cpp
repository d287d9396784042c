// A blocking call run off the caller's thread: the caller sees it running, then done, with
// what it wrote; a second start is refused.
#include "Interface/BackgroundCall.h"

#include <gtest/gtest.h>

#include <atomic>
#include <future>

namespace vesk {
namespace {

using namespace std::chrono_literals;

TEST(BackgroundCallTest, RunsOffTheCallerUntilDoneAndStartsOnce) {
    BackgroundCall call;
    EXPECT_FALSE(call.IsStarted());
    EXPECT_FALSE(call.IsDone());

    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    int result = 0;
    ASSERT_TRUE(call.Start([released, &result] {
        released.wait();
        result = 42;
    }));
    EXPECT_TRUE(call.IsStarted());
    EXPECT_FALSE(call.IsDone()) << "Start returned while the call still blocks";
    EXPECT_FALSE(call.WaitFor(20ms));
    EXPECT_FALSE(call.Start([] {}));

    release.set_value();
    ASSERT_TRUE(call.WaitFor(10s));
    EXPECT_TRUE(call.IsDone());
    EXPECT_EQ(result, 42);
    EXPECT_GT(call.Elapsed(), 0ms);
}

TEST(BackgroundCallTest, AnExceptionStillEndsTheCall) {
    BackgroundCall call;
    ASSERT_TRUE(call.Start([] { throw std::runtime_error("broken"); }));
    EXPECT_TRUE(call.WaitFor(10s));
}

}  // namespace
}  // namespace vesk
