// The publisher's signature against an attacker who controls the content host: each
// row changes what the host serves, and the engine must start nothing, write and
// delete nothing and fetch no release file. Lists are signed by the release packer's
// own signing code, checked by the engine with keys a test sets.
#include <gtest/gtest.h>

#include <functional>

#include "DownloadSystem/ListSignature.h"
#include "DownloadSystem/PublisherKeys.h"
#include "EngineFixture.h"
#include "Platform/Crypto.h"
#include "ReleaseSignature.h"

namespace DownloadSystem::Testing {
namespace {

constexpr char Release[] = "Sorvan_9_4";

// `bytes` with its last four replaced so that its CRC-32 is `target`: the CRC is linear
// in those four bytes, so each target has exactly one solution.
std::string ForgeCrc(std::string bytes, std::uint32_t target) {
    const std::size_t at = bytes.size() - 4;
    const auto crcWith = [&](std::uint32_t x) {
        for (int i = 0; i < 4; ++i) {
            bytes[at + static_cast<std::size_t>(i)] = static_cast<char>(x >> (8 * i));
        }
        return static_cast<std::uint32_t>(SignedCrc(bytes));
    };
    const std::uint32_t base = crcWith(0);
    std::uint32_t rows[32];
    std::uint32_t picks[32];
    for (int j = 0; j < 32; ++j) {
        rows[j] = crcWith(1u << j) ^ base;
        picks[j] = 1u << j;
    }
    // Gaussian elimination over GF(2): each bit gets a row that alone holds it.
    std::uint32_t solution = 0;
    std::uint32_t want = target ^ base;
    for (int bit = 0, next = 0; bit < 32; ++bit) {
        int pivot = next;
        while (pivot < 32 && !(rows[pivot] >> bit & 1)) {
            ++pivot;
        }
        if (pivot == 32) {
            continue;
        }
        std::swap(rows[pivot], rows[next]);
        std::swap(picks[pivot], picks[next]);
        for (int r = 0; r < 32; ++r) {
            if (r != next && (rows[r] >> bit & 1)) {
                rows[r] ^= rows[next];
                picks[r] ^= picks[next];
            }
        }
        if (want >> bit & 1) {
            want ^= rows[next];
            solution ^= picks[next];
        }
        ++next;
    }
    crcWith(solution);
    return bytes;
}

std::string Sha256Hex(const std::string& bytes) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string hex;
    for (const std::uint8_t byte :
         Platform::ComputeHash(Platform::HashAlgorithm::Sha256, bytes.data(), bytes.size())) {
        hex += Digits[byte >> 4];
        hex += Digits[byte & 0xF];
    }
    return hex;
}

class ListSignatureTest : public EngineFixture {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        std::string error;
        for (const char* name : {"current", "rotated", "stranger"}) {
            std::string hex;
            const fs::path path = root_ / (std::string(name) + ".pem");
            ASSERT_TRUE(Tools::MakeSigningKey(path, hex, error)) << error;
            keyFiles_.push_back(path);
            publicKeys_.push_back(hex);
        }
        // The program knows the current and the rotated key, never the stranger's.
        PublisherKeys::OverridePublisherKeys(
            std::vector<std::string>{publicKeys_[0], publicKeys_[1]});
    }
    void TearDown() override {
        PublisherKeys::OverridePublisherKeys(std::nullopt);
        EngineFixture::TearDown();
    }

    std::string Sign(const std::string& list, std::uint64_t version, int key = 0,
                     const std::string& release = Release) const {
        std::string text;
        std::string error;
        EXPECT_TRUE(Tools::SignFileList(keyFiles_.at(static_cast<std::size_t>(key)), release,
                                        version, list, text, error))
            << error;
        return text;
    }
    // The list as the packer writes it: each entry with its SHA-256 as a fourth field.
    std::string SealedList() const {
        std::string list;
        for (const std::string& name : order_) {
            const std::string& bytes = files_.at(name);
            list += name + "\r\n" + std::to_string(bytes.size()) + "\r\n" +
                    std::to_string(SignedCrc(bytes)) + "\r\n" + Sha256Hex(bytes) + ";";
        }
        return list;
    }
    void ServeList(const std::string& text) {
        content_.SetReply(ListPath(), TestServers::Reply::Text(200, text));
    }
    // Serves the sealed list and its signature.
    void PublishSigned(std::uint64_t version, int key = 0) {
        ServeList(SealedList());
        PublishSignature(Sign(SealedList(), version, key));
    }
    std::string SignaturePath() const { return ListPath() + ".sig"; }
    void PublishSignature(const std::string& text) {
        content_.SetReply(SignaturePath(), TestServers::Reply::Text(200, text));
    }
    fs::path WorkFolder() const { return appData_ / Release; }

    std::vector<fs::path> keyFiles_;
    std::vector<std::string> publicKeys_;
};

TEST_F(ListSignatureTest, EveryForgeryOfListOrSignatureIsRefusedBeforeAnythingIsTouched) {
    AddSetupProgram();
    AddFile("Data-1a.bin", PatternBytes(3000));
    const std::string list = SealedList();
    const std::string valid = Sign(list, 5);
    const std::string oneEntry = list.substr(0, list.find(';') + 1);
    struct Row {
        const char* attack;
        std::function<void()> change;
        const char* reason;
    };
    const Row rows[] = {
        {"one byte of the list changed",
         [&] {
             std::string changed = list;
             changed[changed.find("\r\n") + 2] ^= 1;  // a digit of the first size
             ServeList(changed);
         },
         "not the text the publisher signed"},
        {"an entry added",
         [&] { ServeList(list + "Extra-1a.bin\r\n3\r\n0\r\n" + Sha256Hex("abc") + ";"); },
         "not the text the publisher signed"},
        {"an entry removed", [&] { ServeList(oneEntry); }, "not the text the publisher signed"},
        {"a signed list without the files' SHA-256",
         [&] {
             ServeList(ListText());
             PublishSignature(Sign(ListText(), 5));
         },
         "without its SHA-256"},
        {"the signature missing",
         [&] { content_.SetReply(SignaturePath(), TestServers::Reply::Text(404, "gone")); },
         "no signature"},
        {"the signature empty", [&] { PublishSignature(""); }, "not a signature"},
        {"the signature truncated", [&] { PublishSignature(valid.substr(0, valid.size() - 9)); },
         "not a signature"},
        {"the signature from another key", [&] { PublishSignature(Sign(list, 5, 2)); },
         "not signed by the publisher"},
        {"a sound signature of another release",
         [&] { PublishSignature(Sign(list, 5, 0, "Sorvan_9_3")); }, "another release"},
        {"a sound signature of an older version",
         [&] { ASSERT_TRUE(StoreAcceptedListVersion(Wide(WorkFolder().string()), 6)); },
         "older than version 6"},
        {"the version raised in a signed file",
         [&] {
             std::string raised = valid;
             raised.replace(raised.find("version 5"), 9, "version 9");
             PublishSignature(raised);
         },
         "not signed by the publisher"},
    };
    // A damaged copy on disk: a list taken would delete it and fetch it again.
    const std::string damaged = PatternBytes(2999);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.attack);
        vesk::ClearErrors();
        content_.ClearRequests();
        fs::remove_all(WorkFolder());
        ServeList(list);
        PublishSignature(valid);
        WriteFile(Local("Data-1a.bin"), damaged);
        row.change();
        {
            DownloadCore core;
            RunDownload(core);
        }
        EXPECT_TRUE(HasErrorMessage(row.reason)) << vesk::GetLogEntries().dump();
        EXPECT_TRUE(HasErrorMessage("was refused"));
        EXPECT_EQ(FileRequests("Data-1a.bin"), 0u);
        EXPECT_EQ(FileRequests("Setup.exe"), 0u);
        EXPECT_EQ(ReadFile(Local("Data-1a.bin")), damaged);
        EXPECT_EQ(std::distance(fs::directory_iterator(programFolder_), fs::directory_iterator()),
                  1);
        EXPECT_FALSE(fs::exists(root_ / "setup-ran.txt"));
    }
}

TEST_F(ListSignatureTest, SignedListsRunUnderEitherKeyAndAnOlderOneIsRefusedLater) {
    AddSetupProgram();
    AddFile("Data-1a.bin", PatternBytes(3000));
    struct Row {
        const char* publication;
        std::uint64_t version;
        int key;
        bool accepted;
    };
    const Row rows[] = {
        {"version 5 under the current key", 5, 0, true},
        {"version 5 again", 5, 0, true},
        {"version 7 under the rotated key", 7, 1, true},
        {"version 6 under the current key, after 7", 6, 0, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.publication);
        vesk::ClearErrors();
        fs::remove(root_ / "setup-ran.txt");
        PublishSigned(row.version, row.key);
        {
            DownloadCore core;
            RunDownload(core);
        }
        EXPECT_EQ(HasErrorMessage("was refused"), !row.accepted);
        if (row.accepted) {
            EXPECT_EQ(WaitForFile(root_ / "setup-ran.txt"), programFolder_.string() + "\n");
        } else {
            EXPECT_FALSE(fs::exists(root_ / "setup-ran.txt"));
        }
    }
    EXPECT_EQ(ReadAcceptedListVersion(Wide(WorkFolder().string())), 7u);
}

TEST_F(ListSignatureTest, AReleaseFileWithAForgedCrcIsNeverStartedNorKept) {
    AddSetupProgram();
    const std::string genuine = PatternBytes(5000);
    AddFile("Data-1a.bin", genuine);
    PublishSigned(3);
    std::string forged = genuine;
    forged.replace(0, 11, "evil bytes!");
    forged = ForgeCrc(forged, static_cast<std::uint32_t>(SignedCrc(genuine)));
    ASSERT_EQ(SignedCrc(forged), SignedCrc(genuine));
    ASSERT_EQ(forged.size(), genuine.size());
    content_.SetReply(std::string("/") + Subdir + "/Data-1a.bin",
                      TestServers::Reply::Text(200, forged));
    // The program on disk is the publisher's: only the forged file stands in the way.
    {
        DownloadCore core;
        RunDownload(core);
    }
    EXPECT_TRUE(HasErrorMessage("Maximum download attempts exceeded"));
    EXPECT_TRUE(HasErrorMessage("SHA-256 is not correct"));
    EXPECT_TRUE(HasLogEntry("has the wrong SHA-256"));
    // Each pass fetched it again (four attempts each) and the verification deleted it.
    EXPECT_EQ(FileRequests("Data-1a.bin"), 8u * 4u);
    EXPECT_FALSE(fs::exists(Local("Data-1a.bin")));
    EXPECT_FALSE(fs::exists(root_ / "setup-ran.txt"));
}

TEST_F(ListSignatureTest, AForgedCopyAlreadyOnDiskIsReplacedByTheGenuineFile) {
    AddSetupProgram();
    const std::string genuine = PatternBytes(5000);
    AddFile("Data-1a.bin", genuine);
    PublishSigned(3);
    std::string forged = genuine;
    forged.replace(0, 11, "evil bytes!");
    WriteFile(Local("Data-1a.bin"),
              ForgeCrc(forged, static_cast<std::uint32_t>(SignedCrc(genuine))));
    {
        DownloadCore core;
        RunDownload(core);
    }
    EXPECT_TRUE(vesk::GetErrorMessages().empty()) << vesk::GetErrorMessages().front();
    EXPECT_EQ(FileRequests("Data-1a.bin"), 1u);
    EXPECT_EQ(ReadFile(Local("Data-1a.bin")), genuine);
    EXPECT_FALSE(WaitForFile(root_ / "setup-ran.txt").empty());
}

TEST_F(ListSignatureTest, WithoutKeysNoSignatureIsAskedForAndTheLogSaysSo) {
    PublisherKeys::OverridePublisherKeys(std::vector<std::string>{});
    AddSetupProgram();
    {
        DownloadCore core;
        RunDownload(core);
    }
    EXPECT_TRUE(vesk::GetErrorMessages().empty());
    EXPECT_FALSE(WaitForFile(root_ / "setup-ran.txt").empty());
    EXPECT_TRUE(content_.RequestsTo(SignaturePath()).empty());
    EXPECT_TRUE(HasLogEntry("no publisher key is built in"));
}

}  // namespace
}  // namespace DownloadSystem::Testing
