// The folder watcher on a real folder: foreign deletions and renames are logged,
// announced ones are not.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "DownloadSystem/FileSystemWatcher.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {
namespace {

namespace fs = std::filesystem;

// Log entries whose message contains `text`.
int CountEntries(const std::string& text) {
    int count = 0;
    for (const auto& entry : vesk::GetLogEntries()) {
        if (entry.value("message", std::string()).find(text) != std::string::npos) {
            ++count;
        }
    }
    return count;
}

// Waits (bounded) until `count` entries contain `text`.
bool WaitForEntries(const std::string& text, int count) {
    for (int i = 0; i < 100; ++i) {
        if (CountEntries(text) >= count) {
            return true;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

class FileSystemWatcherTest : public ::testing::Test {
protected:
    void SetUp() override {
        vesk::ClearErrors();
        folder_ = fs::temp_directory_path() /
                  ("watcher-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
                   "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    fs::path Touch(const std::string& name) {
        const fs::path path = folder_ / name;
        std::ofstream(path) << "x";
        return path;
    }
    std::u16string Wide(const fs::path& path) { return vesk::StringUtils::ToWide(path.string()); }

    fs::path folder_;
};

TEST_F(FileSystemWatcherTest, LogsForeignDeletionsAndRenamesButNotAnnouncedOnes) {
    const fs::path announced = Touch("announced.bin");
    const fs::path foreign = Touch("foreign.bin");
    const fs::path renamed = Touch("renamed.bin");

    FileSystemWatcher watcher;
    ASSERT_TRUE(watcher.StartWatching(Wide(folder_)));
    for (int i = 0; i < 100 && !watcher.IsWatching(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(watcher.IsWatching());

    watcher.ExpectChange(Wide(announced));
    fs::remove(announced);
    fs::remove(foreign);
    fs::rename(renamed, folder_ / "new-name.bin");

    ASSERT_TRUE(WaitForEntries("was renamed but it was not by the download manager!", 1));
    ASSERT_TRUE(WaitForEntries("was deleted but it was not by the download manager!", 1));
    watcher.Stop(500);

    EXPECT_EQ(CountEntries("File: foreign.bin was deleted"), 1);
    EXPECT_EQ(CountEntries("File: renamed.bin was renamed"), 1);
    EXPECT_EQ(CountEntries("announced.bin"), 0);
    EXPECT_EQ(CountEntries("new-name.bin"), 0);
    EXPECT_EQ(CountEntries("FileSystemWatcher ended"), 1);
}

TEST_F(FileSystemWatcherTest, AnAnnouncementIsUsedOnceAndMatchesCaseExactly) {
    FileSystemWatcher watcher;
    watcher.ExpectChange(u"/some/folder/a.bin");
    watcher.ExpectChange(u"C:\\folder\\B.bin");
    EXPECT_FALSE(watcher.ConsumeExpectedChange(u"A.bin"));
    EXPECT_TRUE(watcher.ConsumeExpectedChange(u"a.bin"));
    EXPECT_FALSE(watcher.ConsumeExpectedChange(u"a.bin"));
    EXPECT_TRUE(watcher.ConsumeExpectedChange(u"B.bin"));
}

}  // namespace
}  // namespace DownloadSystem
