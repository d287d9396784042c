// Log reports as a hostile sender shapes them: deep nesting, bombs, and floods
// that must meet the per-sender rate and the folder quota.
#include "LogReportStore.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "ReportBody.h"
#include "TestFolder.h"

namespace {

using ToolsTest::Gzip;
using ToolsTest::TestFolder;
using ToolsTest::Utf16Le;

constexpr const char* kComputerId = "0123456789abcdef0123456789abcdef01234567";

std::string Nested(int depth) {
    return std::string(static_cast<size_t>(depth), '[') +
           std::string(static_cast<size_t>(depth), ']');
}

Tools::ReportOutcome Post(Tools::LogReportStore& store, const std::string& body) {
    return store.Store(kComputerId, {{"Method", "LogErrorInfo"}}, body, "127.0.0.1",
                       std::chrono::system_clock::now());
}

TEST(LogReportStoreTest, HostileBodiesAreRefusedBeforeAnythingIsWritten) {
    TestFolder folder;
    Tools::LogReportStore store(folder.Path(), Tools::ReportStoreLimits{});
    struct Case {
        const char* what;
        std::string body;
        int status;
    };
    const Case cases[] = {
        // Indented storage of this grew with the square of the depth.
        {"nested 10,000 deep", Gzip(Utf16Le(Nested(10000))), 400},
        {"nested one level too deep", Gzip(Utf16Le(Nested(33))), 400},
        {"objects nested too deep",
         Gzip(Utf16Le(std::string(40 * 6, ' ') +
                      [] {
                          std::string s;
                          for (int i = 0; i < 40; ++i)
                              s += "{\"a\":";
                          return s + "1" + std::string(40, '}');
                      }())),
         400},
        // Valid JSON (white space around an empty list) that inflates about 1000-fold.
        {"gzip bomb", Gzip(Utf16Le(std::string(12 << 20, ' ') + "[]")), 413},
        {"over the decoded size", Gzip(Utf16Le("[\"" + std::string(9 << 20, 'a') + "\"]")), 413},
        {"trailing bytes after the JSON", Gzip(Utf16Le("[] []")), 400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Tools::ReportOutcome outcome = Post(store, c.body);
        EXPECT_EQ(outcome.status, c.status) << outcome.message;
    }
    EXPECT_EQ(ToolsTest::CountEntries(folder.Path()), 0u);
}

TEST(LogReportStoreTest, StoredReportIsCompactAndKeepsTheLog) {
    TestFolder folder;
    Tools::LogReportStore store(folder.Path(), Tools::ReportStoreLimits{});
    const std::string log = Nested(32);  // as deep as allowed
    Tools::ReportOutcome outcome = Post(store, Gzip(Utf16Le(log)));
    ASSERT_EQ(outcome.status, 200) << outcome.message;
    std::string stored = ToolsTest::ReadFile(outcome.stored);
    EXPECT_LT(stored.size(), 1024u);
    EXPECT_EQ(nlohmann::json::parse(stored)["log"], nlohmann::json::parse(log));
}

TEST(LogReportStoreTest, EachSenderHasABurstThenARate) {
    TestFolder folder;
    Tools::ReportStoreLimits limits;
    limits.burst = 2;
    limits.refill = std::chrono::seconds(3600);
    Tools::LogReportStore store(folder.Path(), limits);
    Tools::ReportOutcome refusal;
    EXPECT_TRUE(store.Admit("192.0.2.1", refusal));
    EXPECT_TRUE(store.Admit("192.0.2.1", refusal));
    EXPECT_FALSE(store.Admit("192.0.2.1", refusal));
    EXPECT_EQ(refusal.status, 429);
    EXPECT_TRUE(store.Admit("192.0.2.2", refusal)) << "another sender has its own allowance";
}

TEST(LogReportStoreTest, FullFolderRefusesNewReportsAndKeepsTheStoredOnes) {
    TestFolder folder;
    const std::string report = Gzip(Utf16Le("[{\"message\":\"m\"}]"));
    std::uint64_t reportSize = 0;
    {
        Tools::LogReportStore scratch(folder.Path() / "scratch", Tools::ReportStoreLimits{});
        std::filesystem::create_directories(folder.Path() / "scratch");
        reportSize = std::filesystem::file_size(Post(scratch, report).stored);
    }
    struct Case {
        const char* what;
        std::uint64_t maxBytes;
        std::size_t maxFiles;
    };
    const Case cases[] = {{"by count", 1ull << 30, 2},
                          {"by bytes", 100 + reportSize + reportSize / 2, 100}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::filesystem::remove_all(folder.Path() / "reports");
        std::filesystem::create_directories(folder.Path() / "reports");
        folder.Write("reports/earlier.json", std::string(100, 'x'));
        Tools::ReportStoreLimits limits;
        limits.maxFolderBytes = c.maxBytes;
        limits.maxFolderFiles = c.maxFiles;
        Tools::LogReportStore store(folder.Path() / "reports", limits);
        EXPECT_EQ(Post(store, report).status, 200);
        Tools::ReportOutcome full = Post(store, report);
        EXPECT_EQ(full.status, 429) << full.message;
        EXPECT_EQ(ToolsTest::CountEntries(folder.Path() / "reports"), 2u);
        EXPECT_TRUE(std::filesystem::exists(folder.Path() / "reports/earlier.json"));
    }
}

// Whatever is stored parses as JSON, so no reader can be shown another sender
// or computer than the ones the server recorded.
TEST(LogReportStoreTest, EveryStoredReportIsJson) {
    TestFolder folder;
    Tools::LogReportStore store(folder.Path(), Tools::ReportStoreLimits{});
    using namespace std::string_literals;
    const std::u16string forged = u"{\"remote_address\":\"192.0.2.9\",\"computer_id\":\"x\"}";
    const std::u16string texts[] = {
        u"[]"s + u'\0' + forged,  // a NUL taken as the end of the text
        u"[]"s + u'\0',
        u" "s + u'\0' + u"[]",
        u"\uFEFF\uFEFF[]",  // a second byte-order mark
        u"\uFEFF \uFEFF[]",
        u"[\"a"s + u'\0' + u"b\"]",  // a raw NUL inside a string
        u"\uFEFF[\"\uFEFF\"]",       // one mark, then one inside a string: fine
    };
    for (const std::u16string& text : texts) {
        SCOPED_TRACE(testing::PrintToString(Utf16Le(text)));
        std::filesystem::remove_all(folder.Path());
        std::filesystem::create_directories(folder.Path());
        Tools::ReportOutcome outcome = Post(store, Gzip(Utf16Le(text)));
        if (outcome.status != 200) {
            EXPECT_EQ(outcome.status, 400) << outcome.message;
            continue;
        }
        const std::string stored = ToolsTest::ReadFile(outcome.stored);
        if (!nlohmann::json::accept(stored)) {
            ADD_FAILURE() << "stored, not JSON: " << stored.substr(0, 300);
            continue;
        }
        EXPECT_EQ(nlohmann::json::parse(stored)["remote_address"], "127.0.0.1");
    }
}

TEST(LogReportStoreTest, OneSenderNetworkFillsOnlyItsShareOfTheFolder) {
    TestFolder folder;
    Tools::ReportStoreLimits limits;
    limits.maxFolderFiles = 64;
    Tools::LogReportStore store(folder.Path(), limits);
    const std::string report = Gzip(Utf16Le("[]"));
    auto post = [&](const char* address) {
        return store.Store(kComputerId, {}, report, address, std::chrono::system_clock::now())
            .status;
    };
    int stored = 0;
    while (post("192.0.2.1") == 200 && stored < 100) {
        ++stored;
    }
    EXPECT_GT(stored, 0);
    EXPECT_LT(stored, 16) << "one sender took a quarter of the folder or more";
    EXPECT_EQ(post("192.0.2.200"), 429) << "its /24 shares its share";
    EXPECT_EQ(post("2001:db8::1"), 200) << "other senders still get in";
    EXPECT_EQ(post("198.51.100.1"), 200);
}

}  // namespace
