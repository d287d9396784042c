// The manager's own checks on real files: the hosts check, the file checks, the
// signed-path rule against the server's check of it, and the machine identifier.
#include <gtest/gtest.h>

#include <ctime>

#include "Configuration.h"
#include "DownloadSystem/ComputerId.h"
#include "EngineFixture.h"
#include "SignedPath.h"

namespace DownloadSystem::Testing {
namespace {

class DownloadManagerTest : public EngineFixture {};

TEST_F(DownloadManagerTest, HostsCheckFindsServiceDomainsAnywhereCaseSensitively) {
    const std::string domain =
        vesk::StringUtils::ToNarrow(Configuration::ServiceDomainFragments[0]);
    DownloadManager manager;

    // Each of the three fragments counts; the name without its dot is another domain.
    for (std::u16string_view fragment : Configuration::ServiceDomainFragments) {
        const std::string narrow = vesk::StringUtils::ToNarrow(fragment);
        ASSERT_EQ(narrow.back(), '.');
        WriteFile(hosts_, "10.0.0.1 cdn." + narrow + "net\n");
        vesk::ClearErrors();
        EXPECT_EQ(manager.CheckHosts(), 1) << narrow;
        WriteFile(hosts_, "10.0.0.1 " + narrow.substr(0, narrow.size() - 1) + "fans.net\n");
        EXPECT_EQ(manager.CheckHosts(), 0) << narrow;
    }
    EXPECT_EQ(std::size(Configuration::ServiceDomainFragments), 3u);

    WriteFile(hosts_, "127.0.0.1 localhost\n# 10.0.0.1 download." + domain + "com\n");
    vesk::ClearErrors();
    EXPECT_EQ(manager.CheckHosts(), 1);
    EXPECT_TRUE(HasErrorMessage("DownloadManager::CheckHosts Sorvan domains found"));

    std::string upper = domain;
    for (char& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    WriteFile(hosts_, "10.0.0.1 download." + upper + "com\n");
    vesk::ClearErrors();
    EXPECT_EQ(manager.CheckHosts(), 0);
    EXPECT_TRUE(vesk::GetErrorMessages().empty());

    // The text ends at a zero byte.
    WriteFile(hosts_, std::string("127.0.0.1 localhost\n", 20) + '\0' + domain);
    EXPECT_EQ(manager.CheckHosts(), 0);

    WriteFile(hosts_, "");
    EXPECT_EQ(manager.CheckHosts(), 0);
    EXPECT_TRUE(vesk::GetErrorMessages().empty());

    fs::remove(hosts_);
    EXPECT_EQ(manager.CheckHosts(), -1);
    EXPECT_TRUE(HasErrorMessage("PathFileExists failed for: "));
}

TEST_F(DownloadManagerTest, CrcCheckReadsTheWholeFileInBlocks) {
    // Larger than one read block, so the running CRC is what decides.
    const std::string bytes = PatternBytes(3 * 1024 * 1024 + 17);
    const fs::path path = programFolder_ / "big.bin";
    WriteFile(path, bytes);
    EXPECT_TRUE(DownloadManager::CRCCheckFile(Wide(path.string()), SignedCrc(bytes)));
    EXPECT_FALSE(DownloadManager::CRCCheckFile(Wide(path.string()), SignedCrc(bytes) ^ 1));
    EXPECT_FALSE(DownloadManager::CRCCheckFile(Wide((programFolder_ / "none").string()), 0));

    WriteFile(path, "123456789");
    EXPECT_TRUE(
        DownloadManager::CRCCheckFile(Wide(path.string()), static_cast<std::int32_t>(0xCBF43926)));
    EXPECT_TRUE(vesk::GetErrorMessages().empty());
}

TEST_F(DownloadManagerTest, SignedPathIsAcceptedByTheServersCheck) {
    const std::u16string signedPath = DownloadManager::SignSubdirectory(u"Rel/A", u"secret", 1234);
    const std::string text = vesk::StringUtils::ToNarrow(signedPath);
    const std::size_t comma = text.find(',');
    const std::size_t slash = text.find('/');
    ASSERT_NE(comma, std::string::npos);
    ASSERT_NE(slash, std::string::npos);
    EXPECT_EQ(text.substr(comma + 1, slash - comma - 1), "1234");
    EXPECT_EQ(text.substr(slash + 1), "rel/a");
    EXPECT_TRUE(Tools::SignaturesEqual(text.substr(0, comma),
                                       Tools::SignatureFor("1234", "Rel/A", "secret")));
}

TEST_F(DownloadManagerTest, SignedHostGetsASignedSubdirectoryAndNoToken) {
    const std::string host =
        "cdn." + vesk::StringUtils::ToNarrow(Configuration::SignedStorageMarker) + ".example";
    SetManifest(TestServers::Reply::Text(
        200, "{\"product_code\":\"P1\",\"download_subdir\":\"Rel/A\",\"host_name\":\"" + host +
                 "\",\"SAS\":\"secret\"}"));
    DownloadManager manager;
    std::u16string error;
    const auto before = static_cast<std::uint32_t>(std::time(nullptr));
    ASSERT_TRUE(manager.RequestDownload(u"Sorvan_9_4", error));
    EXPECT_TRUE(manager.GetSasToken().empty());

    const std::string text = vesk::StringUtils::ToNarrow(manager.GetDownloadSubdir());
    const std::size_t comma = text.find(',');
    const std::size_t slash = text.find('/');
    ASSERT_NE(comma, std::string::npos);
    const std::string expiry = text.substr(comma + 1, slash - comma - 1);
    const auto expiryValue = static_cast<std::uint32_t>(std::stoul(expiry));
    EXPECT_GE(expiryValue, before + 259200);
    EXPECT_LE(expiryValue, before + 259200 + 60);
    EXPECT_EQ(text.substr(slash + 1), "rel/a");
    EXPECT_TRUE(Tools::SignaturesEqual(text.substr(0, comma),
                                       Tools::SignatureFor(expiry, "Rel/A", "secret")));
}

TEST_F(DownloadManagerTest, ComputerIdIsStableLowerCaseHex) {
    std::string narrow;
    std::u16string wide;
    ComputerId().GetComputerId(narrow);
    ComputerId().GetComputerId(wide);
    ASSERT_EQ(narrow.size(), 40u);
    EXPECT_EQ(narrow.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(Wide(narrow), wide);
    // The identifier text always has the separator and the processor signature.
    const std::string text = ComputerId().BuildIdentifierText();
    EXPECT_NE(text.find('|'), std::string::npos);
    EXPECT_GT(text.size(), text.find('|') + 1);
}

}  // namespace
}  // namespace DownloadSystem::Testing
