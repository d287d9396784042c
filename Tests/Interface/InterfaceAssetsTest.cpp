// The interface pictures: the order and pace in which they become textures, and fetching
// them from a real HTTPS server (description, both groups, failures reported, queries
// not sent).
#include "Interface/InterfaceAssets.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "Interface/Texture.h"
#include "Servers/HttpsServer.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace vesk {
namespace {

ByteBuffer Bytes(const std::string& text) {
    return ByteBuffer(std::string_view(text));
}

// Makes a texture without a GPU; bytes "bad" do not decode.
struct RecordingLoader {
    std::vector<std::string> loaded;
    std::shared_ptr<Texture> operator()(const std::string& key, const std::uint8_t* data,
                                        std::size_t size) {
        loaded.push_back(key);
        if (data == nullptr || std::string(reinterpret_cast<const char*>(data), size) == "bad") {
            return nullptr;
        }
        return std::make_shared<Texture>(key, "id-" + key);
    }
};

bool HasErrorMessage(const std::string& text) {
    const auto messages = GetErrorMessages();
    return std::any_of(messages.begin(), messages.end(), [&text](const std::string& message) {
        return message.find(text) != std::string::npos;
    });
}

TEST(InterfaceAssetsTest, NothingHappensUntilFetchedThenOneOfEachGroupPerFrameInKeyOrder) {
    InterfaceAssets assets;
    RecordingLoader loader;
    const TextureLoader load = std::ref(loader);
    assets.AddCoreImage("logo_background", Bytes("png"));
    assets.AddMediaImage("b", Bytes("png"));
    assets.AddMediaImage("a", Bytes("png"));
    assets.AddMediaImage("c", Bytes("bad"));
    assets.AddMediaImage("d", Bytes("png"));

    EXPECT_FALSE(assets.Process(load));
    EXPECT_TRUE(loader.loaded.empty());

    assets.MarkFetched();
    EXPECT_FALSE(assets.Process(load));
    EXPECT_EQ(loader.loaded, (std::vector<std::string>{"logo_background", "a"}));
    EXPECT_FALSE(assets.Process(load));
    EXPECT_FALSE(assets.Process(load));
    EXPECT_TRUE(assets.Process(load));  // the fourth frame takes the last media picture
    EXPECT_EQ(loader.loaded.size(), 5u);
    EXPECT_TRUE(assets.Process(load));

    // The undecodable picture is dropped; the others keep their key order.
    std::vector<std::string> shown;
    for (const auto& texture : assets.GetMediaTextures()) {
        shown.push_back(texture->GetName());
    }
    EXPECT_EQ(shown, (std::vector<std::string>{"a", "b", "d"}));
    ASSERT_NE(assets.GetCoreTexture("logo_background"), nullptr);
    EXPECT_EQ(assets.GetCoreTexture(""), nullptr);
    EXPECT_EQ(assets.GetCoreTexture("missing"), nullptr);
}

TEST(InterfaceAssetsTest, FetchedWithNothingWaitingIsReadyAtOnce) {
    InterfaceAssets assets;
    RecordingLoader loader;
    assets.MarkFetched();
    EXPECT_TRUE(assets.Process(std::ref(loader)));
    EXPECT_TRUE(loader.loaded.empty());
}

TEST(InterfaceAssetsTest, GivingUpBeforeFetchedEndsTheWaitAndDropsLatePictures) {
    ClearErrors();
    InterfaceAssets assets;
    RecordingLoader loader;
    assets.AddMediaImage("a", Bytes("png"));
    EXPECT_FALSE(assets.Process(std::ref(loader)));
    EXPECT_TRUE(assets.GiveUp());
    // The picture that came in time is still shown.
    EXPECT_TRUE(assets.Process(std::ref(loader)));
    assets.AddCoreImage("logo_background", Bytes("png"));
    assets.ReportFailure("failed to download texture: late");
    assets.MarkFetched();
    EXPECT_FALSE(assets.IsFetched()) << "nothing is published after giving up";
    EXPECT_EQ(assets.WaitingBytes(), 0u) << "a late picture is not kept";
    EXPECT_TRUE(assets.Process(std::ref(loader)));
    EXPECT_EQ(loader.loaded, (std::vector<std::string>{"a"}));
    EXPECT_EQ(assets.GetCoreTexture("logo_background"), nullptr);
    EXPECT_EQ(GetErrorCount(), 0u) << "a failure nobody waits for is not the user's error";
    loader.loaded.clear();

    // Once fetched, giving up changes nothing.
    InterfaceAssets fetched;
    fetched.AddMediaImage("a", Bytes("png"));
    fetched.MarkFetched();
    EXPECT_FALSE(fetched.GiveUp());
    EXPECT_TRUE(fetched.Process(std::ref(loader)));
    EXPECT_EQ(loader.loaded, (std::vector<std::string>{"a"}));
}

class FetchInterfaceAssetsTest : public ::testing::Test {
protected:
    void SetUp() override { ClearErrors(); }

    void Describe(const std::string& json) {
        server_.SetReply("/downloadmanager/9/meta.json", TestServers::Reply::Text(200, json));
    }

    void Fetch(InterfaceAssets& assets) {
        FetchInterfaceAssets(assets, StringUtils::ToWide(server_.Address()), u"9");
    }

    TestServers::HttpsServer server_;
};

TEST_F(FetchInterfaceAssetsTest, FetchesBothGroupsWithoutQueriesAndReportsMissingPictures) {
    server_.SetReply("/img/header.png", TestServers::Reply::Text(200, "header"));
    server_.SetReply("/img/a.png", TestServers::Reply::Text(200, "slide a"));
    Describe("{\"core\":{\"logo_background\":\"" + server_.Url("/img/header.png") +
             "\"},\"media\":{\"b\":\"" + server_.Url("/img/missing.png") + "\",\"a\":\"" +
             server_.Url("/img/a.png?v=7&t=x") + "\",\"n\":17},\"other\":1}");
    InterfaceAssets assets;
    Fetch(assets);
    ASSERT_TRUE(assets.IsFetched());

    const auto requests = server_.RequestsTo("/img/a.png");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/img/a.png");
    EXPECT_TRUE(HasErrorMessage("DownloadManagerInterface::Init() -> failed to download texture: " +
                                server_.Url("/img/missing.png") + " - 7"));
    EXPECT_FALSE(HasErrorMessage("no core texture found"));
    EXPECT_FALSE(HasErrorMessage("no media texture found"));

    // Every member is queued, the failed ones too (their decoding fails later).
    RecordingLoader loader;
    while (!assets.Process(std::ref(loader))) {
    }
    EXPECT_EQ(loader.loaded, (std::vector<std::string>{"logo_background", "a", "b", "n"}));
}

TEST_F(FetchInterfaceAssetsTest, EveryBrokenDescriptionIsReportedAndStillMarksFetched) {
    struct Case {
        std::string body;
        std::vector<std::string> reports;
    };
    const std::vector<Case> cases = {
        {"", {"DownloadManagerInterface::Init() -> json from server failed!"}},
        {"{not json", {"DownloadManagerInterface::Init() -> json failed to read: "}},
        {"{\"core\":{},\"media\":{}}",
         {"DownloadManagerInterface::Init() -> no core texture found!",
          "DownloadManagerInterface::Init() -> no media texture found!"}},
        {"[1, 2]",
         {"DownloadManagerInterface::Init() -> no core texture found!",
          "DownloadManagerInterface::Init() -> no media texture found!"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        ClearErrors();
        Describe(c.body);
        InterfaceAssets assets;
        Fetch(assets);
        EXPECT_TRUE(assets.IsFetched());
        for (const std::string& report : c.reports) {
            EXPECT_TRUE(HasErrorMessage(report)) << report;
        }
        RecordingLoader loader;
        EXPECT_TRUE(assets.Process(std::ref(loader)));
    }
}

}  // namespace
}  // namespace vesk

namespace vesk {
namespace {

// The UI thread gives up while the first picture is on its way from a host that never
// answers: that transfer is stopped, no further picture is requested, and nothing reaches
// the error list.
TEST_F(FetchInterfaceAssetsTest, GivingUpStopsTheTransferAndStartsNoOther) {
    InterfaceAssets assets;
    const auto url = [this](const std::string& name) { return server_.Url("/p/" + name); };
    Describe("{\"core\":{\"a\":\"" + url("a.png") + "\",\"b\":\"" + url("b.png") + "\",\"c\":\"" +
             url("c.png") + "\"}}");
    server_.SetHandler("/p/a.png", [&assets](const TestServers::RecordedRequest&) {
        assets.GiveUp();
        TestServers::Reply silent;
        silent.silent = true;
        return silent;
    });
    Fetch(assets);
    EXPECT_EQ(server_.RequestsTo("/p/a.png").size(), 1u);
    EXPECT_TRUE(server_.RequestsTo("/p/b.png").empty());
    EXPECT_TRUE(server_.RequestsTo("/p/c.png").empty());
    EXPECT_FALSE(assets.IsFetched());
    EXPECT_EQ(GetErrorCount(), 0u);
}

}  // namespace
}  // namespace vesk

namespace vesk {
namespace {

// The deadline passes while the second slide hangs: the header and the first slide, which
// came in time, become textures for the splash and the slideshow, and no picture's bytes
// are left behind.
TEST_F(FetchInterfaceAssetsTest, GivingUpShowsThePicturesThatCameInTimeAndKeepsNoBytes) {
    const auto url = [this](const std::string& name) { return server_.Url("/p/" + name); };
    server_.SetReply("/p/header.png", TestServers::Reply::Text(200, std::string(4096, 'h')));
    server_.SetReply("/p/a.png", TestServers::Reply::Text(200, std::string(8192, 'a')));
    TestServers::Reply silent;
    silent.silent = true;
    server_.SetReply("/p/b.png", silent);
    Describe("{\"core\":{\"logo_background\":\"" + url("header.png") + "\"},\"media\":{\"a\":\"" +
             url("a.png") + "\",\"b\":\"" + url("b.png") + "\",\"c\":\"" + url("c.png") + "\"}}");
    InterfaceAssets assets;
    std::thread fetcher([this, &assets] { Fetch(assets); });
    // meta.json, header.png, a.png, then b.png, which never answers.
    const bool hanging = server_.WaitForRequests(4, std::chrono::seconds(30));
    EXPECT_TRUE(assets.GiveUp());
    fetcher.join();
    ASSERT_TRUE(hanging);
    ASSERT_EQ(server_.RequestsTo("/p/b.png").size(), 1u);
    EXPECT_TRUE(server_.RequestsTo("/p/c.png").empty());

    RecordingLoader loader;
    for (int frame = 0; frame < 10 && !assets.Process(std::ref(loader)); ++frame) {
    }
    EXPECT_TRUE(assets.Process(std::ref(loader)));
    EXPECT_EQ(loader.loaded, (std::vector<std::string>{"logo_background", "a"}));
    EXPECT_NE(assets.GetCoreTexture("logo_background"), nullptr);
    ASSERT_EQ(assets.GetMediaTextures().size(), 1u);
    EXPECT_EQ(assets.GetMediaTextures()[0]->GetName(), "a");
    EXPECT_EQ(assets.WaitingBytes(), 0u);
    EXPECT_EQ(GetErrorCount(), 0u);
}

}  // namespace
}  // namespace vesk
