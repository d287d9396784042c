// Console logger: gating, line endings, null formats, and whole messages from many
// threads. Output is captured, so it is not a terminal and carries no colour codes.
#include "Support/ConsoleLog.h"

#include <gtest/gtest.h>

#include <set>
#include <sstream>
#include <thread>
#include <vector>

namespace vesk {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

TEST(ConsoleLogTest, MessagesEndWithTheirOwnLineBreak) {
    CaptureStdout();
    LogMessage("activate moving %u", 42u);
    LogError(" Application::Create() -> GLFW: Init failed!\n");
    EXPECT_EQ(GetCapturedStdout(),
              "activate moving 42\n Application::Create() -> GLFW: Init failed!\n\n");
}

TEST(ConsoleLogTest, VerboseIsGatedAndNullFormatPrintsNothing) {
    ASSERT_EQ(GetVerbosity(), 0);
    CaptureStdout();
    LogVerbose(" Application::Create() -> Engine starting...'\n");
    LogMessage(nullptr);
    LogError(nullptr);
    EXPECT_EQ(GetCapturedStdout(), "");

    SetVerbosity(3);
    CaptureStdout();
    LogVerbose("now %s", "shown");
    EXPECT_EQ(GetCapturedStdout(), "now shown\n");
    SetVerbosity(0);
}

TEST(ConsoleLogTest, MessagesFromManyThreadsNeverInterleave) {
    constexpr int Threads = 6;
    constexpr int PerThread = 100;
    const std::string padding(200, 'x');
    CaptureStdout();
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([t, &padding] {
            for (int i = 0; i < PerThread; ++i) {
                LogMessage("thread %d message %d %s", t, i, padding.c_str());
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    std::istringstream lines(GetCapturedStdout());
    std::set<std::string> seen;
    std::string line;
    while (std::getline(lines, line)) {
        EXPECT_EQ(line.substr(line.size() - padding.size()), padding) << line;
        seen.insert(line);
    }
    EXPECT_EQ(seen.size(), static_cast<std::size_t>(Threads * PerThread));
}

}  // namespace
}  // namespace vesk
