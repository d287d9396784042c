// Gzip writer: the written stream decodes to the UTF-16LE text, open/close rules, and a
// destroyed writer leaves a complete stream.
#include "DownloadSystem/CGZip.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "Support/StringUtils.h"

namespace {

using zlib::CGZip;

class CGZipTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ =
            std::filesystem::temp_directory_path() /
            ("sorvan-gzip-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
             "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::u16string Path(const std::string& name) const {
        return vesk::StringUtils::ToWide((folder_ / name).string());
    }
    // The decompressed content; empty when the file is not a complete gzip stream.
    std::string Decompress(const std::string& name) const {
        gzFile file = gzopen((folder_ / name).string().c_str(), "rb");
        if (file == nullptr)
            return {};
        std::string out;
        char buffer[4096];
        int got = 0;
        while ((got = gzread(file, buffer, sizeof buffer)) > 0)
            out.append(buffer, static_cast<std::size_t>(got));
        const bool clean = got == 0 && gzclose(file) == Z_OK;
        return clean ? out : std::string();
    }

    std::filesystem::path folder_;
};

TEST_F(CGZipTest, WritesUtf16LittleEndianTextAtLevelNine) {
    CGZip zip;
    zip.SetCompressionLevel(9);
    EXPECT_FALSE(zip.IsOpen());
    ASSERT_TRUE(zip.Open(Path("log.gz"), 1));
    EXPECT_TRUE(zip.IsOpen());
    EXPECT_TRUE(zip.WriteString(u"abc"));
    const std::u16string more(50000, u'\u00e9');
    EXPECT_TRUE(zip.WriteString(more));
    EXPECT_TRUE(zip.Close());

    const std::string content = Decompress("log.gz");
    ASSERT_EQ(content.size(), 6u + 100000u);
    EXPECT_EQ(content.substr(0, 6), std::string("a\0b\0c\0", 6));
    EXPECT_EQ(content.substr(6, 2), std::string("\xe9\0", 2));
    // Repetitive text must actually be compressed.
    EXPECT_LT(std::filesystem::file_size(folder_ / "log.gz"), 2000u);
}

TEST_F(CGZipTest, OpenAndCloseRules) {
    CGZip zip;
    EXPECT_FALSE(zip.Close());
    EXPECT_FALSE(zip.Write("x", 1));
    EXPECT_FALSE(zip.WriteString(u"x"));
    EXPECT_FALSE(zip.Open(Path("other.gz"), 0));
    EXPECT_FALSE(zip.Open(Path("missing-folder/a.gz"), 1));

    ASSERT_TRUE(zip.Open(Path("first.gz"), 1));
    EXPECT_FALSE(zip.Open(Path("second.gz"), 1));
    EXPECT_TRUE(zip.IsOpen());
    EXPECT_TRUE(zip.Write("kept", 4));
    EXPECT_TRUE(zip.Close());
    EXPECT_FALSE(zip.Close());
    EXPECT_EQ(Decompress("first.gz"), "kept");
    EXPECT_FALSE(std::filesystem::exists(folder_ / "second.gz"));
}

TEST_F(CGZipTest, DestroyingAnOpenWriterLeavesACompleteStream) {
    {
        CGZip zip;
        ASSERT_TRUE(zip.Open(Path("left-open.gz"), 1));
        ASSERT_TRUE(zip.WriteString(u"hi"));
    }
    EXPECT_EQ(Decompress("left-open.gz"), std::string("h\0i\0", 4));
}

// A user's folder may be named with any letters; the file is opened by its wide name.
TEST_F(CGZipTest, OpensAFileInAFolderNamedBeyondAscii) {
    const std::filesystem::path folder = folder_ / std::filesystem::path(u"J\u00f6rg \u03a9");
    std::filesystem::create_directories(folder);
    const std::filesystem::path file = folder / "logfile.gz";
    {
        CGZip zip;
        ASSERT_TRUE(zip.Open(file.u16string(), 1));
        EXPECT_TRUE(zip.WriteString(u"abc"));
        EXPECT_TRUE(zip.Close());
    }
    std::ifstream in(file, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes.substr(0, 2), "\x1f\x8b");  // a gzip stream
}

}  // namespace
