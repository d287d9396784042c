// The manifest request against a download service on loopback: which replies give a
// manifest, which a failure of which kind, and what the manager keeps of them.
#include <gtest/gtest.h>

#include "DownloadSystem/ManifestRequest.h"
#include "EngineFixture.h"

namespace DownloadSystem::Testing {
namespace {

class ManifestRequestTest : public EngineFixture {};

TEST_F(ManifestRequestTest, RepliesGiveAManifestOrATypedFailure) {
    using Kind = ManifestFailure::Kind;
    struct Row {
        const char* what;
        TestServers::Reply reply;
        std::optional<Kind> failure;  // nothing: a manifest
        std::string text;             // the failure's text begins with it
    };
    TestServers::Reply cut =
        TestServers::Reply::Text(200, ManifestJson("h") + std::string(64, ' '));
    cut.dropAfter = 10;
    cut.resetOnDrop = true;
    const Row rows[] = {
        {"manifest", TestServers::Reply::Text(200, ManifestJson("h")), std::nullopt, ""},
        {"error_info that is no text", TestServers::Reply::Text(200, "{\"error_info\":5}"),
         std::nullopt, ""},
        {"error_info text", TestServers::Reply::Text(200, "{\"error_info\":\"no such release\"}"),
         Kind::Refused, "no such release"},
        {"status", TestServers::Reply::Text(503, ""), Kind::ServiceStatus,
         "DownloadManager::RequestDownload the download service answered 503"},
        {"cut reply", cut, Kind::ReplyIncomplete,
         "DownloadManager::RequestDownload the service's reply was not read to its end"},
    };
    Manifest previous;
    previous.hostName = u"kept";
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        SetManifest(row.reply);
        const ManifestOutcome outcome = ManifestRequest(u"id").Send(u"Sorvan_9_4", previous);
        ASSERT_EQ(outcome.Succeeded(), !row.failure);
        if (row.failure) {
            EXPECT_EQ(outcome.failure.kind, *row.failure);
            EXPECT_EQ(vesk::StringUtils::ToNarrow(outcome.failure.text).rfind(row.text, 0), 0u);
        }
    }
}

TEST_F(ManifestRequestTest, ManagerKeepsItsManifestWhenTheServiceRefuses) {
    DownloadManager manager;
    std::u16string error;
    ASSERT_TRUE(manager.RequestDownload(u"Sorvan_9_4", error));
    EXPECT_EQ(manager.GetFileSuffix(), u"_P1");

    SetManifest(TestServers::Reply::Text(200, "{\"error_info\":\"closed\"}"));
    EXPECT_FALSE(manager.RequestDownload(u"Sorvan_9_4", error));
    EXPECT_EQ(error, u"closed");
    EXPECT_EQ(manager.GetHostName(), Wide(content_.Address()));
    EXPECT_EQ(manager.GetDownloadSubdir(), u"Rel");
    EXPECT_EQ(manager.GetSasToken(), Wide(Sas));
    EXPECT_EQ(manager.GetFileSuffix(), u"_P1");

    // A reply that is not JSON is a release without members, not a failure.
    SetManifest(TestServers::Reply::Text(200, "not json"));
    error.clear();
    EXPECT_TRUE(manager.RequestDownload(u"Sorvan_9_4", error));
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(manager.GetHostName(), u"");
    EXPECT_EQ(manager.GetFileSuffix(), u"_");
}

}  // namespace
}  // namespace DownloadSystem::Testing
