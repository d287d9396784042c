// Release packer: the exact list bytes, the description, stable order, that a refused
// folder leaves nothing behind, and the signature the client's check accepts.
#include "ReleasePacker.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include "Platform/Crypto.h"
#include "ReleaseSignature.h"
#include "TestFolder.h"

namespace {

using ToolsTest::ReadFile;
using ToolsTest::TestFolder;

class ReleasePackerTest : public ::testing::Test {
protected:
    Tools::PackOptions Options() const {
        Tools::PackOptions options;
        options.contentRoot = folder.Path();
        options.release.release = "Sorvan_9_5";
        options.release.productCode = "SV95";
        options.release.companyName = "Tavrin";
        options.release.downloadSubdir = "rel/9.5";
        options.release.hostName = "localhost:8443";
        options.signedStorageMarker = "signedstore";
        return options;
    }
    std::filesystem::path ListPath() const { return folder.Path() / "rel/9.5/Sorvan_9_5.txt"; }
    std::filesystem::path DescriptionPath() const {
        return folder.Path() / "releases/Sorvan_9_5.json";
    }

    TestFolder folder;
};

TEST_F(ReleasePackerTest, WritesTheListInNameOrderWithSignedCrcs) {
    // Created out of order; "123456789" has CRC 0xCBF43926, whose top bit is set.
    folder.Write("rel/9.5/Setup.exe", "hello");
    folder.Write("rel/9.5/Data-1a.bin", "123456789");
    folder.Write("rel/9.5/Data-0a.bin", "");

    Tools::ReleasePacker packer(Options());
    std::string error;
    ASSERT_TRUE(packer.Pack(error)) << error;

    EXPECT_EQ(ReadFile(ListPath()),
              "Data-0a.bin\r\n0\r\n0\r\n"
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855;"
              "Data-1a.bin\r\n9\r\n-873187034\r\n"
              "15e2b0d3c33891ebb0f1ef609ec419420c20e320ce94c65fbc8c3312448eb225;"
              "Setup.exe\r\n5\r\n907060870\r\n"
              "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824;");

    nlohmann::json description = nlohmann::json::parse(ReadFile(DescriptionPath()));
    EXPECT_EQ(description["release"], "Sorvan_9_5");
    EXPECT_EQ(description["product_code"], "SV95");
    EXPECT_EQ(description["company_name"], "Tavrin");
    EXPECT_EQ(description["download_subdir"], "rel/9.5");
    EXPECT_EQ(description["host_name"], "localhost:8443");
    EXPECT_EQ(description["SAS"], "");
    EXPECT_EQ(description["file_count"], 3);
    EXPECT_EQ(description["total_bytes"], 14);
}

TEST_F(ReleasePackerTest, RepackingIgnoresItsOwnListAndGivesTheSameBytes) {
    folder.Write("rel/9.5/Setup.exe", "hello");
    folder.Write("rel/9.5/Data-1a.bin", "123456789");
    std::string error;
    ASSERT_TRUE(Tools::ReleasePacker(Options()).Pack(error)) << error;
    std::string first = ReadFile(ListPath());
    ASSERT_TRUE(Tools::ReleasePacker(Options()).Pack(error)) << error;
    EXPECT_EQ(ReadFile(ListPath()), first);
}

TEST_F(ReleasePackerTest, RefusedFilesWriteNothingAndNameEveryProblem) {
    struct Case {
        const char* name;
        const char* problem;
    };
    const Case cases[] = {
        {"two words.bin", "character outside"},
        {".hidden-file", "starts with"},
        {"ab.bin", "at least 7"},
        {"CON.txt.exe", "reserved"},
        {"setup.exe", "only in case"},  // beside Setup.exe
        {"sub", "not a plain file"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestFolder round;
        Tools::PackOptions options = Options();
        options.contentRoot = round.Path();
        round.Write("rel/9.5/Setup.exe", "hello");
        if (std::string(c.name) == "sub") {
            std::filesystem::create_directories(round.Path() / "rel/9.5/sub");
        } else {
            round.Write(std::string("rel/9.5/") + c.name, "data");
        }
        std::string error;
        EXPECT_FALSE(Tools::ReleasePacker(options).Pack(error));
        EXPECT_NE(error.find(c.name), std::string::npos) << error;
        EXPECT_NE(error.find(c.problem), std::string::npos) << error;
        EXPECT_FALSE(std::filesystem::exists(round.Path() / "rel/9.5/Sorvan_9_5.txt"));
        EXPECT_FALSE(std::filesystem::exists(round.Path() / "releases"));
    }
}

TEST_F(ReleasePackerTest, RefusesFilesOf4GiBAndKeepsTheEarlierRelease) {
    folder.Write("rel/9.5/Setup.exe", "hello");
    std::string error;
    ASSERT_TRUE(Tools::ReleasePacker(Options()).Pack(error)) << error;
    std::string list = ReadFile(ListPath());
    std::string description = ReadFile(DescriptionPath());

    // A sparse file: its size is what counts, no data is read.
    auto big = folder.Write("rel/9.5/Huge-1a.bin", "");
    ASSERT_EQ(truncate(big.c_str(), 4ll << 30), 0);
    EXPECT_FALSE(Tools::ReleasePacker(Options()).Pack(error));
    EXPECT_NE(error.find("smaller than 4 GiB"), std::string::npos) << error;
    EXPECT_EQ(ReadFile(ListPath()), list);
    EXPECT_EQ(ReadFile(DescriptionPath()), description);
}

TEST_F(ReleasePackerTest, RefusesOptionsTheClientCannotUse) {
    folder.Write("rel/9.5/Setup.exe", "hello");
    std::string error;

    Tools::PackOptions signedWithoutToken = Options();
    signedWithoutToken.release.hostName = "signedstore.localhost:8443";
    EXPECT_FALSE(Tools::ReleasePacker(signedWithoutToken).Pack(error));
    EXPECT_NE(error.find("SAS token"), std::string::npos) << error;

    Tools::PackOptions escaping = Options();
    escaping.release.downloadSubdir = "rel/../..";
    EXPECT_FALSE(Tools::ReleasePacker(escaping).Pack(error));

    Tools::PackOptions rootRelease = Options();
    rootRelease.release.release = "Sorvan_12_5";
    EXPECT_FALSE(Tools::ReleasePacker(rootRelease).Pack(error));
    EXPECT_NE(error.find("2_5"), std::string::npos) << error;

    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "releases"));
}

TEST_F(ReleasePackerTest, ReportsProgressForEveryFile) {
    folder.Write("rel/9.5/Setup.exe", "hello");
    folder.Write("rel/9.5/Data-1a.bin", std::string(3 << 20, 'x'));
    Tools::ReleasePacker packer(Options());
    std::vector<std::string> finished;
    std::uint64_t largestStep = 0;
    packer.SetProgress([&](const Tools::PackProgress& p) {
        EXPECT_EQ(p.fileCount, 2u);
        EXPECT_LE(p.fileBytesDone, p.fileSize);
        largestStep = std::max(largestStep, p.fileBytesDone);
        if (p.fileDone) {
            finished.push_back(p.name);
        }
    });
    std::string error;
    ASSERT_TRUE(packer.Pack(error)) << error;
    EXPECT_EQ(finished, (std::vector<std::string>{"Data-1a.bin", "Setup.exe"}));
    EXPECT_EQ(largestStep, 3u << 20);
}

}  // namespace

namespace {

std::vector<std::uint8_t> FromHex(const std::string& hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
    }
    return bytes;
}

TEST_F(ReleasePackerTest, SignsNameVersionAndListHashSoThePlatformCheckAcceptsIt) {
    folder.Write("rel/9.5/Setup.exe", "hello");
    std::string publicKey;
    std::string error;
    const auto key = folder.Path() / "publisher.pem";
    ASSERT_TRUE(Tools::MakeSigningKey(key, publicKey, error)) << error;
    EXPECT_EQ(std::filesystem::status(key).permissions() & std::filesystem::perms::group_read,
              std::filesystem::perms::none);
    Tools::PackOptions options = Options();
    options.signingKey = key;
    options.version = 7;
    ASSERT_TRUE(Tools::ReleasePacker(options).Pack(error)) << error;

    const std::string list = ReadFile(ListPath());
    const std::string sig = ReadFile(folder.Path() / "rel/9.5/Sorvan_9_5.txt.sig");
    const std::string body = "release-signature 1\nrelease Sorvan_9_5\nversion 7\nlist-sha256 " +
                             Tools::Sha256Hex(list) + "\n";
    ASSERT_EQ(sig.substr(0, body.size()), body);
    ASSERT_EQ(sig.substr(body.size(), 10), "signature ");
    ASSERT_EQ(sig.size(), body.size() + 10 + 128 + 1);
    const std::vector<std::uint8_t> point = FromHex(publicKey);
    const std::vector<std::uint8_t> signature = FromHex(sig.substr(body.size() + 10, 128));
    EXPECT_TRUE(Platform::VerifyEcdsaP256Sha256(point.data(), point.size(), body.data(),
                                                body.size(), signature.data(), signature.size()));

    // Repacking unsigned leaves no signature of the earlier list behind.
    ASSERT_TRUE(Tools::ReleasePacker(Options()).Pack(error)) << error;
    EXPECT_FALSE(std::filesystem::exists(folder.Path() / "rel/9.5/Sorvan_9_5.txt.sig"));

    // A signed release without its version, or with a missing key, writes nothing.
    TestFolder round;
    round.Write("rel/9.5/Setup.exe", "hello");
    for (const auto& [signingKey, version] :
         {std::pair{key, std::uint64_t{0}},
          std::pair{round.Path() / "none.pem", std::uint64_t{3}}}) {
        Tools::PackOptions refused = Options();
        refused.contentRoot = round.Path();
        refused.signingKey = signingKey;
        refused.version = version;
        EXPECT_FALSE(Tools::ReleasePacker(refused).Pack(error));
        EXPECT_FALSE(std::filesystem::exists(round.Path() / "rel/9.5/Sorvan_9_5.txt"));
    }
}

}  // namespace
