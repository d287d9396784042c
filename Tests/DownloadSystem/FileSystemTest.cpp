// File helpers on real files: sizes (beyond 4 GiB too), whole-file reads, what is and is not
// reported, and the program's folder.
#include "DownloadSystem/FileSystem.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "Platform/Paths.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace {

using DownloadSystem::FileSystem;
using vesk::StringUtils;

class FileSystemTest : public ::testing::Test {
protected:
    void SetUp() override {
        vesk::ClearErrors();
        folder_ = std::filesystem::temp_directory_path() /
                  (std::string("sorvan-fs-") +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::filesystem::remove_all(folder_);
        Platform::Paths::OverrideExecutablePath(u"");
        vesk::ClearErrors();
    }
    std::u16string Write(const std::string& name, const std::string& content) {
        std::ofstream(folder_ / name, std::ios::binary) << content;
        return Path(name);
    }
    std::u16string Path(const std::string& name) const {
        return StringUtils::ToWide((folder_ / name).string());
    }

    std::filesystem::path folder_;
};

TEST_F(FileSystemTest, LengthOfMissingEmptyAndLargeFiles) {
    EXPECT_EQ(FileSystem::GetFileLength(Path("missing")), 0u);
    EXPECT_EQ(FileSystem::GetFileLength(Write("empty", "")), 0u);
    EXPECT_EQ(FileSystem::GetFileLength(Write("five", "12345")), 5u);

    // A sparse file beyond 4 GiB: the full 64-bit size, not its low half.
    const std::uint64_t large = (5ull << 30) + 3;
    std::ofstream(folder_ / "large").close();
    std::filesystem::resize_file(folder_ / "large", large);
    EXPECT_EQ(FileSystem::GetFileLength(Path("large")), large);
    EXPECT_EQ(vesk::GetLogEntries().size(), 0u);
}

TEST_F(FileSystemTest, ReadWholeFile) {
    vesk::ByteBuffer data(std::string_view("stale"));
    FileSystem::ReadWholeFile(Write("empty", ""), data);
    EXPECT_TRUE(data.Empty());
    EXPECT_EQ(vesk::GetLogEntries().size(), 0u);

    std::string content(70000, '\0');
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i % 251);
    FileSystem::ReadWholeFile(Write("content", content), data);
    EXPECT_EQ(data.AsText(), content);

    FileSystem::ReadWholeFile(Path("missing"), data);
    EXPECT_TRUE(data.Empty());
    const auto messages = vesk::GetErrorMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Couldn't read file " + (folder_ / "missing").string());
}

TEST_F(FileSystemTest, ExecutableDirectoryDropsTheFileName) {
    Platform::Paths::OverrideExecutablePath(u"/opt/sorvan/Sorvan_Release_9.exe");
    std::string directory;
    FileSystem::GetExecutableDirectory(directory);
    EXPECT_EQ(directory, "/opt/sorvan");
}

}  // namespace
