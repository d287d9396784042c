// CriticalSection and its guard: recursion on one thread, exclusion across threads,
// release during unwinding.
#include "Support/CriticalSection.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

namespace vesk {
namespace {

TEST(CriticalSectionTest, OwnerMayEnterAgainAndGuardReleasesOnUnwind) {
    CriticalSection section;
    {
        CriticalSectionLock outer(section);
        CriticalSectionLock inner(&section);
    }
    try {
        CriticalSectionLock lock(section);
        throw std::runtime_error("unwind");
    } catch (const std::runtime_error&) {
    }
    std::thread other([&] {
        ASSERT_TRUE(section.TryEnter());
        section.Leave();
    });
    other.join();
}

TEST(CriticalSectionTest, ExcludesOtherThreads) {
    CriticalSection section;
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 10000; ++i) {
                CriticalSectionLock lock(section);
                ++counter;
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    EXPECT_EQ(counter, 40000);
}

}  // namespace
}  // namespace vesk
