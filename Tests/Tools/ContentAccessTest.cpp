// Content access rules: signed paths as the client forms them, SAS suffixes,
// and the paths that are never served.
#include "ContentAccess.h"

#include <gtest/gtest.h>

#include "ReleaseCatalog.h"
#include "ReleaseDescription.h"
#include "TestFolder.h"

namespace {

using ToolsTest::TestFolder;

constexpr std::int64_t kExpiry = 2000000000;
// Base64(MD5("2000000000/Rel/Asecret")) with "/" -> "_" and "+" -> "-", computed
// independently of the server's code.
constexpr const char* kSignature = "ISccAE3cEYOvvjgNt4khNg==";

class ContentAccessTest : public ::testing::Test {
protected:
    void SetUp() override {
        AddRelease("Signed_9_5", "Rel/A", "signedstore.localhost:8443", "secret");
        AddRelease("Token_9_5", "Sub/B", "localhost:8443", "?sv=1&sig=abc");
        AddRelease("Plain_9_5", "plain", "localhost:8443", "");
        folder.Write("content/Rel/A/Setup.exe", "signed");
        folder.Write("content/Sub/B/Data-1a.bin", "token");
        folder.Write("content/plain/Data-1a.bin", "plain");
        folder.Write("content/downloadmanager/9/meta.json", "{}");
        folder.Write("outside.txt", "secret");
    }

    void AddRelease(const std::string& name, const std::string& subdir, const std::string& host,
                    const std::string& token) {
        Tools::ReleaseDescription d;
        d.release = name;
        d.productCode = "P";
        d.downloadSubdir = subdir;
        d.hostName = host;
        d.sasToken = token;
        folder.Write("content/releases/" + name + ".json", Tools::ToJsonText(d));
    }

    int Status(const std::string& target, std::int64_t now = kExpiry - 100) {
        return access.Decide(target, now).status;
    }

    TestFolder folder;
    Tools::ReleaseCatalog catalog{folder.Path() / "content", [](const std::string&) {}};
    Tools::ContentAccess access{folder.Path() / "content", "signedstore", catalog};
};

TEST_F(ContentAccessTest, SignedPathWithLowerCasedFolderIsServedUntilItExpires) {
    const std::string target = std::string("/") + kSignature + ",2000000000/rel/a/Setup.exe";
    Tools::ContentDecision decision = access.Decide(target, kExpiry - 100);
    ASSERT_EQ(decision.status, 200) << decision.reason;
    EXPECT_EQ(ToolsTest::ReadFile(decision.file), "signed");

    EXPECT_EQ(Status(target, kExpiry), 200);
    EXPECT_EQ(Status(target, kExpiry + 1), 403);
}

TEST_F(ContentAccessTest, TamperedOrMissingSignaturesAreRefused) {
    std::string tampered = kSignature;
    tampered[3] = tampered[3] == 'c' ? 'd' : 'c';
    EXPECT_EQ(Status("/" + tampered + ",2000000000/rel/a/Setup.exe"), 403);
    // A later expiry with the old signature.
    EXPECT_EQ(Status(std::string("/") + kSignature + ",2000000001/rel/a/Setup.exe"), 403);
    // The signed release's files are not served on plain paths.
    EXPECT_EQ(Status("/Rel/A/Setup.exe"), 403);
    // A valid signature does not open another release's folder.
    EXPECT_EQ(Status(std::string("/") + kSignature + ",2000000000/plain/Data-1a.bin"), 403);
}

TEST_F(ContentAccessTest, SasTokenMustEndTheObjectName) {
    EXPECT_EQ(Status("/Sub/B/Data-1a.bin?sv=1&sig=abc"), 200);
    EXPECT_EQ(Status("/Sub/B/Data-1a.bin"), 403);
    EXPECT_EQ(Status("/Sub/B/Data-1a.bin?sv=1&sig=abd"), 403);
    EXPECT_EQ(Status("/plain/Data-1a.bin"), 200);
    EXPECT_EQ(Status("//downloadmanager/9/meta.json"), 200);
}

TEST_F(ContentAccessTest, NeverServesDescriptionsHiddenNamesOrOutsideFiles) {
    EXPECT_EQ(Status("/releases/Signed_9_5.json"), 404);
    EXPECT_EQ(Status("/../outside.txt"), 404);
    EXPECT_EQ(Status("/%2e%2e/outside.txt"), 404);
    EXPECT_EQ(Status("/plain/%zz"), 400);
    EXPECT_EQ(Status("/plain/missing.bin"), 404);

    std::filesystem::create_symlink(folder.Path() / "outside.txt",
                                    folder.Path() / "content/plain/link.bin");
    EXPECT_EQ(Status("/plain/link.bin"), 404);
}

TEST_F(ContentAccessTest, LinksIntoTheDescriptionsAreNotFollowed) {
    const auto content = folder.Path() / "content";
    std::filesystem::create_symlink(content / "releases/Plain_9_5.json",
                                    content / "plain/description.json");
    std::filesystem::create_symlink(content / "releases", content / "plain/descriptions");
    std::filesystem::create_symlink("../releases", content / "plain/up");
    for (const char* target : {"/plain/description.json", "/plain/descriptions/Plain_9_5.json",
                               "/plain/up/Signed_9_5.json", "/Releases/Signed_9_5.json",
                               "/plain/../releases/Plain_9_5.json"}) {
        SCOPED_TRACE(target);
        EXPECT_EQ(Status(target), 404);
    }
    // A link that stays among the served files is still followed.
    std::filesystem::create_symlink(content / "plain/Data-1a.bin", content / "plain/alias.bin");
    EXPECT_EQ(Status("/plain/alias.bin"), 200);
}

}  // namespace
