// The verification pass on real files: it takes only files with the listed sums, stops at
// the first damaged one and deletes it, and reads nothing it need not.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include <unistd.h>

#include "DownloadSystem/CRC.h"
#include "DownloadSystem/FileVerifier.h"
#include "Platform/Crypto.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {
namespace {

namespace fs = std::filesystem;

class FileVerifierTest : public ::testing::Test {
protected:
    void SetUp() override {
        vesk::ClearErrors();
        folder_ = fs::temp_directory_path() /
                  ("verifier-" + std::to_string(::getpid()) + "-" +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override { fs::remove_all(folder_); }

    // Writes the file and lists it with its true sums.
    ListedFile Add(const std::string& name, const std::string& bytes) {
        std::ofstream(folder_ / name, std::ios::binary) << bytes;
        ListedFile file;
        file.name = vesk::StringUtils::ToWide(name);
        file.size = static_cast<std::uint32_t>(bytes.size());
        file.sizeBound = bytes.size();
        file.crc = static_cast<std::int32_t>(CRC().Extend(0, bytes.data(), bytes.size()));
        file.complete = true;
        Platform::Sha256 hash;
        hash.Update(bytes.data(), bytes.size());
        Platform::Sha256Digest digest{};
        EXPECT_TRUE(hash.Final(digest));
        file.sha256 = digest;
        return file;
    }

    FileVerifier Verifier() {
        return FileVerifier({
            [this] { return stop_; },
            [this](const ListedFile& file) {
                return vesk::StringUtils::ToWide((folder_ / file.name).string());
            },
            [this](const std::u16string& path) {
                deleted_.push_back(path);
                return fs::remove(fs::path(vesk::StringUtils::ToNarrow(path)));
            },
        });
    }

    fs::path folder_;
    bool stop_ = false;
    std::vector<std::u16string> deleted_;
};

TEST_F(FileVerifierTest, PassStopsAtTheFirstDamagedFileAndDeletesIt) {
    struct Row {
        const char* what;
        void (*damage)(ListedFile&);
        bool verified;
        bool deleted;
        std::uint64_t verifiedBytes;  // the first file's 3 bytes, or all 3 + 5 + 1
    };
    const Row rows[] = {
        {"all sound", [](ListedFile&) {}, true, false, 9},
        {"wrong CRC", [](ListedFile& f) { f.crc ^= 1; }, false, true, 3},
        {"right CRC, other SHA-256", [](ListedFile& f) { (*f.sha256)[0] ^= 1; }, false, true, 3},
        {"unsigned list: CRC alone", [](ListedFile& f) { f.sha256.reset(); }, true, false, 9},
        {"incomplete entry is skipped",
         [](ListedFile& f) {
             f.complete = false;
             f.crc ^= 1;
         },
         true, false, 4},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        deleted_.clear();
        std::vector<ListedFile> files = {Add("a.bin", "abc"), Add("b.bin", "defgh"),
                                         Add("c.bin", "i")};
        row.damage(files[1]);
        std::atomic<std::uint64_t> verifiedBytes{0};
        EXPECT_EQ(Verifier().VerifyAll(files, verifiedBytes), row.verified);
        EXPECT_EQ(verifiedBytes.load(), row.verifiedBytes);
        EXPECT_EQ(!deleted_.empty(), row.deleted);
        EXPECT_EQ(fs::exists(folder_ / "b.bin"), !row.deleted);
    }
}

TEST_F(FileVerifierTest, MissingOrEmptyFilesFailWithoutAReport) {
    std::atomic<std::uint64_t> verifiedBytes{0};
    ListedFile missing = Add("gone.bin", "x");
    fs::remove(folder_ / "gone.bin");
    EXPECT_FALSE(Verifier().VerifyAll({missing}, verifiedBytes));

    // An empty file is complete only when the list says it is empty.
    ListedFile empty = Add("empty.bin", "");
    EXPECT_TRUE(Verifier().VerifyAll({empty}, verifiedBytes));
    empty.sizeBound.reset();
    EXPECT_FALSE(Verifier().VerifyAll({empty}, verifiedBytes));
    EXPECT_EQ(verifiedBytes.load(), 0u);
    EXPECT_TRUE(vesk::GetErrorMessages().empty());
    EXPECT_TRUE(deleted_.empty());

    // A stop ends the pass before any file is read.
    stop_ = true;
    EXPECT_FALSE(Verifier().VerifyAll({Add("a.bin", "abc")}, verifiedBytes));
    EXPECT_EQ(verifiedBytes.load(), 0u);
}

}  // namespace
}  // namespace DownloadSystem
