// FolderWatch on a real temporary folder: deletions, renames and additions arrive
// with their names, a stop request ends the wait, and a vanished folder ends it too.
#include <stdlib.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/FolderWatch.h"
#include "Platform/SystemError.h"

namespace {

using Platform::FolderChange;
using Platform::FolderEvent;
using Platform::FolderWatch;
using namespace std::chrono_literals;

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

class FolderWatchTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "watch-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        watch_.Close();
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    void Touch(const std::string& name) { std::ofstream(folder_ + "/" + name) << "x"; }

    // Collects events until `count` have arrived; gives up after a generous bound so
    // a missing event fails the test instead of hanging it.
    std::vector<FolderEvent> Collect(std::size_t count) {
        std::vector<FolderEvent> all;
        const auto deadline = std::chrono::steady_clock::now() + 10s;
        const auto late = [&] { return std::chrono::steady_clock::now() > deadline; };
        while (all.size() < count) {
            std::vector<FolderEvent> some;
            if (watch_.Wait(some, late) != FolderWatch::WaitResult::Changes) {
                break;
            }
            all.insert(all.end(), some.begin(), some.end());
        }
        return all;
    }

    std::string folder_;
    FolderWatch watch_;
};

TEST_F(FolderWatchTest, DeletionCarriesTheName) {
    Touch("setup.exe");
    ASSERT_TRUE(watch_.Open(Wide(folder_)));
    std::filesystem::remove(folder_ + "/setup.exe");
    const auto events = Collect(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].change, FolderChange::Removed);
    EXPECT_EQ(events[0].name, u"setup.exe");
}

TEST_F(FolderWatchTest, RenameGivesOldNameThenNewName) {
    Touch("old.bin");
    const std::string outside = folder_ + "-outside";
    std::filesystem::create_directory(outside);
    ASSERT_TRUE(watch_.Open(Wide(folder_)));
    std::filesystem::rename(folder_ + "/old.bin", folder_ + "/new.bin");
    auto events = Collect(2);
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].change, FolderChange::RenamedFrom);
    EXPECT_EQ(events[0].name, u"old.bin");
    EXPECT_EQ(events[1].change, FolderChange::RenamedTo);
    EXPECT_EQ(events[1].name, u"new.bin");

    // Moving a file out of the folder leaves only its old name.
    std::filesystem::rename(folder_ + "/new.bin", outside + "/new.bin");
    events = Collect(1);
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].change, FolderChange::RenamedFrom);
    EXPECT_EQ(events[0].name, u"new.bin");
    std::filesystem::remove_all(outside);
}

TEST_F(FolderWatchTest, AdditionAndModificationInOrderWithWideNames) {
    ASSERT_TRUE(watch_.Open(Wide(folder_)));
    std::ofstream(folder_ + "/\xC3\xBC.txt") << "content";
    const auto events = Collect(2);
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[0].change, FolderChange::Added);
    EXPECT_EQ(events[0].name, u"\u00fc.txt");
    EXPECT_EQ(events[1].change, FolderChange::Modified);
    EXPECT_EQ(events[1].name, u"\u00fc.txt");
}

TEST_F(FolderWatchTest, RemovalsAndRenamesWatchStaysQuietWhileFilesAreWritten) {
    ASSERT_TRUE(watch_.Open(Wide(folder_), Platform::WatchedChanges::RemovalsAndRenames));
    {
        std::ofstream out(folder_ + "/written.bin");
        for (int i = 0; i < 100; ++i) {
            out << std::string(1024, 'x') << std::flush;
        }
    }
    std::filesystem::rename(folder_ + "/written.bin", folder_ + "/moved.bin");
    std::filesystem::remove(folder_ + "/moved.bin");
    // The creation and the hundred writes are not reported: the rename comes first.
    const auto events = Collect(3);
    ASSERT_EQ(events.size(), 3u);
    EXPECT_EQ(events[0].change, FolderChange::RenamedFrom);
    EXPECT_EQ(events[0].name, u"written.bin");
    EXPECT_EQ(events[1].change, FolderChange::RenamedTo);
    EXPECT_EQ(events[2].change, FolderChange::Removed);
    EXPECT_EQ(events[2].name, u"moved.bin");
}

TEST_F(FolderWatchTest, StopRequestEndsAQuietWait) {
    ASSERT_TRUE(watch_.Open(Wide(folder_)));
    std::vector<FolderEvent> events;
    EXPECT_EQ(watch_.Wait(events, [] { return true; }), FolderWatch::WaitResult::Stopped);

    // Asked from another thread while the wait sits in the system call.
    std::atomic<bool> stop{false};
    std::thread stopper([&] {
        std::this_thread::sleep_for(50ms);
        stop = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const auto result = watch_.Wait(events, [&] { return stop.load(); });
    const auto waited = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_EQ(result, FolderWatch::WaitResult::Stopped);
    EXPECT_TRUE(events.empty());
    // A loose bound: the wait checks every 100 ms, so seconds mean it did not.
    EXPECT_LT(waited, 3s);
}

TEST_F(FolderWatchTest, VanishedOrMissingFolderFails) {
    EXPECT_FALSE(watch_.Open(Wide(folder_ + "/absent")));
    EXPECT_EQ(Platform::LastSystemError(), ENOENT);
    Touch("file");
    EXPECT_FALSE(watch_.Open(Wide(folder_ + "/file")));
    EXPECT_EQ(Platform::LastSystemError(), ENOTDIR);

    const std::string sub = folder_ + "/sub";
    std::filesystem::create_directory(sub);
    ASSERT_TRUE(watch_.Open(Wide(sub)));
    std::filesystem::remove(sub);
    std::vector<FolderEvent> events;
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    const auto late = [&] { return std::chrono::steady_clock::now() > deadline; };
    EXPECT_EQ(watch_.Wait(events, late), FolderWatch::WaitResult::Failed);
    EXPECT_EQ(watch_.Wait(events, late), FolderWatch::WaitResult::Failed);
}

}  // namespace
