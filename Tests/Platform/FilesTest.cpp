// Files and File on real files in a temporary folder: round trips, sizes beyond
// 4 GiB, error numbers of missing files and folders, and path text handling.
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "Platform/Files.h"

namespace {

using Platform::File;
using Platform::LastSystemError;
namespace Files = Platform::Files;

std::u16string Wide(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
}

class FilesTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "files-XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        folder_ = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }
    std::u16string In(const std::string& name) const { return Wide(folder_ + "/" + name); }

    std::string folder_;
};

TEST_F(FilesTest, WrittenBytesReadBackWithSizeAndDelete) {
    std::vector<unsigned char> data(100000);
    for (std::size_t i = 0; i < data.size(); ++i) {
        data[i] = static_cast<unsigned char>(i * 7 + 3);
    }
    {
        File out = File::CreateForWriting(In("data.bin"));
        ASSERT_TRUE(out.IsOpen());
        ASSERT_TRUE(out.Write(data.data(), 1000));
        ASSERT_TRUE(out.Write(data.data() + 1000, data.size() - 1000));
        std::uint64_t size = 0;
        ASSERT_TRUE(out.Size(size));
        EXPECT_EQ(size, data.size());
        EXPECT_TRUE(out.Close());
        EXPECT_FALSE(out.Close());
        EXPECT_EQ(LastSystemError(), EBADF);
    }
    std::uint64_t size = 0;
    ASSERT_TRUE(Files::GetSize(In("data.bin"), size));
    EXPECT_EQ(size, data.size());

    File in = File::OpenForReading(In("data.bin"));
    ASSERT_TRUE(in.IsOpen());
    std::vector<unsigned char> back;
    unsigned char chunk[4096];
    std::size_t got = 0;
    do {
        ASSERT_TRUE(in.Read(chunk, sizeof chunk, got));
        back.insert(back.end(), chunk, chunk + got);
    } while (got != 0);
    EXPECT_EQ(back, data);
    in.Close();

    // Cutting an appending file: the next write goes to the new end; growing is refused.
    {
        File cut = File::OpenForAppending(In("data.bin"));
        ASSERT_TRUE(cut.IsOpen());
        EXPECT_FALSE(cut.Truncate(data.size() + 1));
        EXPECT_EQ(LastSystemError(), EINVAL);
        EXPECT_TRUE(cut.Truncate(3));
        EXPECT_TRUE(cut.Write("end", 3));
        EXPECT_TRUE(cut.Close());
    }
    ASSERT_TRUE(Files::GetSize(In("data.bin"), size));
    EXPECT_EQ(size, 6u);

    EXPECT_TRUE(Files::Remove(In("data.bin")));
    EXPECT_FALSE(Files::Exists(In("data.bin")));
}

TEST_F(FilesTest, CreatingAnExistingFileEmptiesIt) {
    ASSERT_TRUE(File::CreateForWriting(In("a.txt")).Write("previous content", 16));
    ASSERT_TRUE(File::CreateForWriting(In("a.txt")).Write("new", 3));
    std::uint64_t size = 0;
    ASSERT_TRUE(Files::GetSize(In("a.txt"), size));
    EXPECT_EQ(size, 3u);
}

TEST_F(FilesTest, SizeOfFilesBeyondFourGigabytes) {
    const std::uint64_t expected = (5ull << 30) + 3;  // sparse: takes no disk space
    File out = File::CreateForWriting(In("big.bin"));
    ASSERT_TRUE(out.IsOpen());
    ASSERT_EQ(::truncate((folder_ + "/big.bin").c_str(), static_cast<off_t>(expected)), 0);
    std::uint64_t size = 0;
    ASSERT_TRUE(out.Size(size));
    EXPECT_EQ(size, expected);
    ASSERT_TRUE(Files::GetSize(In("big.bin"), size));
    EXPECT_EQ(size, expected);
}

TEST_F(FilesTest, MissingFilesAndFoldersGiveNotFound) {
    EXPECT_FALSE(File::OpenForReading(In("absent.bin")).IsOpen());
    EXPECT_EQ(LastSystemError(), ENOENT);
    EXPECT_TRUE(Files::IsNotFoundError(LastSystemError()));

    EXPECT_FALSE(Files::Remove(In("absent.bin")));
    EXPECT_EQ(LastSystemError(), ENOENT);

    std::uint64_t size = 99;
    EXPECT_FALSE(Files::GetSize(In("absent.bin"), size));
    EXPECT_EQ(LastSystemError(), ENOENT);
    EXPECT_EQ(size, 0u);

    Files::Attributes attributes;
    EXPECT_FALSE(Files::GetAttributes(In("absent.bin"), attributes));
    EXPECT_EQ(LastSystemError(), ENOENT);

    EXPECT_FALSE(File::CreateForWriting(In("no-folder/x.bin")).IsOpen());
    EXPECT_EQ(LastSystemError(), ENOENT);
}

TEST_F(FilesTest, FoldersAreCreatedLevelByLevelAndAreNotFiles) {
    ASSERT_TRUE(Files::MakeDirectory(In("sub")));
    EXPECT_FALSE(Files::MakeDirectory(In("sub")));
    EXPECT_EQ(LastSystemError(), EEXIST);
    Files::Attributes attributes;
    ASSERT_TRUE(Files::GetAttributes(In("sub"), attributes));
    EXPECT_TRUE(attributes.directory);
    EXPECT_FALSE(File::OpenForReading(In("sub")).IsOpen());
    EXPECT_EQ(LastSystemError(), EISDIR);
    EXPECT_FALSE(Files::Remove(In("sub")));

    EXPECT_TRUE(Files::MakeDirectoryPath(In("a/b/c")));
    EXPECT_TRUE(Files::IsDirectory(In("a/b/c")));
    EXPECT_TRUE(Files::MakeDirectoryPath(In("a/b/c/")));  // existing: success
    File(File::CreateForWriting(In("a/file"))).Close();
    EXPECT_FALSE(Files::MakeDirectoryPath(In("a/file/d")));
    EXPECT_EQ(LastSystemError(), ENOTDIR);
}

TEST_F(FilesTest, PathTextIsConvertedExactlyOrRefused) {
    // Non-ASCII names reach the disk as UTF-8 and come back the same.
    const std::u16string name = u"Gr\u00fc\u00dfe_\u6587\U0001F600.txt";
    File out = File::CreateForWriting(Wide(folder_ + "/") + name);
    ASSERT_TRUE(out.IsOpen());
    out.Close();
    EXPECT_TRUE(std::filesystem::exists(folder_ + "/Gr\xC3\xBC\xC3\x9F"
                                                  "e_\xE6\x96\x87\xF0\x9F\x98\x80.txt"));

    // A zero inside the path would silently name a shorter path; it is refused.
    std::u16string withZero = In("visible");
    withZero += u'\0';
    withZero += u"hidden";
    EXPECT_FALSE(File::CreateForWriting(withZero).IsOpen());
    EXPECT_EQ(LastSystemError(), EINVAL);
    EXPECT_FALSE(std::filesystem::exists(folder_ + "/visible"));

    std::u16string loneSurrogate = In("x");
    loneSurrogate += char16_t(0xD800);
    EXPECT_FALSE(File::CreateForWriting(loneSurrogate).IsOpen());
    EXPECT_EQ(LastSystemError(), EINVAL);
    EXPECT_FALSE(Files::Remove(loneSurrogate));
    EXPECT_FALSE(Files::MakeDirectoryPath(loneSurrogate));
}

TEST_F(FilesTest, MakeExecutableFollowsReadPermission) {
    File out = File::CreateForWriting(In("setup.sh"));
    out.Close();
    const std::string native = folder_ + "/setup.sh";
    ASSERT_EQ(::chmod(native.c_str(), 0640), 0);
    ASSERT_TRUE(Files::MakeExecutable(In("setup.sh")));
    struct stat info {};
    ASSERT_EQ(::stat(native.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0750u);

    EXPECT_FALSE(Files::MakeExecutable(In("absent.sh")));
    EXPECT_EQ(LastSystemError(), ENOENT);
}

}  // namespace
