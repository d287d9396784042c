// Worker thread base: start, wait, cooperative stop, overrun, restart, self-stop,
// escaping exceptions and destruction.
#include "Support/Tavrin_Thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <latch>
#include <thread>

#include "Support/ErrorLog.h"

namespace vesk {
namespace {

using namespace std::chrono_literals;

// Polls the running flag, as every worker's Run must.
class PollingThread : public Tavrin_Thread {
public:
    ~PollingThread() override { Stop(Infinite); }
    void Run() override {
        started.store(true);
        while (IsRunning()) {
            std::this_thread::sleep_for(1ms);
        }
        returned.store(true);
    }
    std::atomic<bool> started{false};
    std::atomic<bool> returned{false};
};

// Ignores the flag until released.
class StubbornThread : public Tavrin_Thread {
public:
    ~StubbornThread() override { Stop(Infinite); }
    void Run() override {
        release.wait();
        returned.store(true);
    }
    std::latch release{1};
    std::atomic<bool> returned{false};
};

class FunctionThread : public Tavrin_Thread {
public:
    explicit FunctionThread(std::function<void(FunctionThread&)> work) : work_(std::move(work)) {}
    ~FunctionThread() override { Stop(Infinite); }
    void Run() override { work_(*this); }

private:
    std::function<void(FunctionThread&)> work_;
};

bool LogContains(const std::string& text) {
    for (const auto& entry : GetLogEntries()) {
        if (entry["message"].get<std::string>().find(text) != std::string::npos) {
            return true;
        }
    }
    return false;
}

class Tavrin_ThreadTest : public ::testing::Test {
protected:
    void SetUp() override { ClearErrors(); }
};

TEST_F(Tavrin_ThreadTest, StopWithoutThreadDoesNothing) {
    PollingThread thread;
    thread.Stop(Tavrin_Thread::Infinite);
    thread.Stop(Tavrin_Thread::Infinite);
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_EQ(thread.Wait(Tavrin_Thread::Infinite), Tavrin_Thread::WaitEnded);
    EXPECT_EQ(GetLogEntries().size(), 0u);
}

TEST_F(Tavrin_ThreadTest, StopReachesPollingWorkerWithinTimeout) {
    PollingThread thread;
    ASSERT_TRUE(thread.Start());
    while (!thread.started.load()) {
        std::this_thread::yield();
    }
    EXPECT_TRUE(thread.IsRunning());
    thread.Stop(5000);
    EXPECT_TRUE(thread.returned.load());
    EXPECT_FALSE(thread.IsRunning());
    EXPECT_FALSE(LogContains("did not stop"));
    thread.Stop(500);  // a second stop is harmless
}

TEST_F(Tavrin_ThreadTest, WaitTimesOutWhileRunWorks) {
    StubbornThread thread;
    ASSERT_TRUE(thread.Start());
    EXPECT_EQ(thread.Wait(20), Tavrin_Thread::WaitTimedOut);
    EXPECT_TRUE(thread.IsRunning());
    thread.release.count_down();
    EXPECT_EQ(thread.Wait(Tavrin_Thread::Infinite), Tavrin_Thread::WaitEnded);
    EXPECT_TRUE(thread.returned.load());
}

// The thread is never killed: Stop logs the overrun and returns only once Run has
// returned, so no lock is left held and the object is not destroyed under it.
TEST_F(Tavrin_ThreadTest, StopPastTimeoutLogsAndWaitsForRun) {
    StubbornThread thread;
    ASSERT_TRUE(thread.Start());
    std::thread releaser([&] {
        while (!LogContains("did not stop within 10 ms")) {
            std::this_thread::sleep_for(1ms);
        }
        thread.release.count_down();
    });
    thread.Stop(10);
    EXPECT_TRUE(thread.returned.load());
    EXPECT_FALSE(thread.IsRunning());
    releaser.join();
    EXPECT_FALSE(HasLoggedErrors());
}

TEST_F(Tavrin_ThreadTest, StartsAgainAfterEndingAndRefusesWhileRunning) {
    StubbornThread blocked;
    ASSERT_TRUE(blocked.Start());
    EXPECT_FALSE(blocked.Start());
    blocked.release.count_down();
    blocked.Wait(Tavrin_Thread::Infinite);

    std::atomic<int> runs{0};
    FunctionThread thread([&](FunctionThread&) { runs++; });
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(thread.Start());
        EXPECT_EQ(thread.Wait(Tavrin_Thread::Infinite), Tavrin_Thread::WaitEnded);
        EXPECT_FALSE(thread.IsRunning());
    }
    EXPECT_EQ(runs.load(), 3);
}

TEST_F(Tavrin_ThreadTest, StopFromOwnRunOnlyClearsTheFlag) {
    std::atomic<bool> sawStop{false};
    FunctionThread thread([&](FunctionThread& self) {
        self.Stop(Tavrin_Thread::Infinite);
        sawStop = !self.IsRunning();
        EXPECT_EQ(self.Wait(Tavrin_Thread::Infinite), Tavrin_Thread::WaitTimedOut);
    });
    ASSERT_TRUE(thread.Start());
    EXPECT_EQ(thread.Wait(Tavrin_Thread::Infinite), Tavrin_Thread::WaitEnded);
    EXPECT_TRUE(sawStop.load());
}

TEST_F(Tavrin_ThreadTest, EscapingExceptionIsReportedNotFatal) {
    FunctionThread thread([](FunctionThread&) { throw std::runtime_error("boom"); });
    ASSERT_TRUE(thread.Start());
    thread.Wait(Tavrin_Thread::Infinite);
    EXPECT_FALSE(thread.IsRunning());
    ASSERT_EQ(GetErrorCount(), 1u);
    EXPECT_NE(GetErrorMessages()[0].find("boom"), std::string::npos);
}

TEST_F(Tavrin_ThreadTest, DestructionStopsAndJoins) {
    auto running = std::make_unique<PollingThread>();
    ASSERT_TRUE(running->Start());
    running.reset();

    auto ended = std::make_unique<PollingThread>();
    ASSERT_TRUE(ended->Start());
    ended->Stop(Tavrin_Thread::Infinite);
    ended.reset();  // already ended: returns at once
    SUCCEED();
}

}  // namespace
}  // namespace vesk
