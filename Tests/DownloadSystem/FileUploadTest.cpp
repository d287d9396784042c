// Request client against the in-process HTTPS server: header order and Accept-Encoding, form
// bodies, attempts and 9000, streamed uploads, replies (status, zero bytes, gzip, the cap).
#include "DownloadSystem/FileUpload.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Servers/FreePort.h"
#include "Servers/HttpsServer.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace {

using DownloadSystem::FileUpload;
using DownloadSystem::HttpVerb;
using DownloadSystem::StringMap;
using TestServers::HttpsServer;
using TestServers::Reply;
using vesk::StringUtils;

std::size_t CountEntries(const std::string& prefix) {
    std::size_t count = 0;
    for (const auto& entry : vesk::GetLogEntries())
        if (entry.value("message", "").rfind(prefix, 0) == 0)
            ++count;
    return count;
}

class FileUploadTest : public ::testing::Test {
protected:
    void SetUp() override { vesk::ClearErrors(); }
    void TearDown() override { vesk::ClearErrors(); }
    std::u16string Url(const std::string& path) const {
        return StringUtils::ToWide(server_.Url(path));
    }

    HttpsServer server_;
};

TEST_F(FileUploadTest, FormPostSendsHeadersInNameOrderAndTheFormBody) {
    server_.SetReply("/Sorvan/DownloadManager8.ashx", Reply::Text(200, "{\"ok\":1}"));
    FileUpload upload;
    const StringMap headers = {{u"Method", u"RequestDownload"},
                               {u"Content-Type", u"application/x-www-form-urlencoded"},
                               {u"Accept-Encoding", u"identity"}};
    const StringMap fields = {{u"A", u"1 2&"}, {u"", u"x"}, {u"b", u"\u00e9"}};
    upload.SendFormRequest(Url("/Sorvan/DownloadManager8.ashx"), HttpVerb::Post, headers, fields,
                           true);
    EXPECT_EQ(upload.GetStatusCode(), 200);
    EXPECT_EQ(upload.GetResponseText(), "{\"ok\":1}");

    const auto requests = server_.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].method, "POST");
    std::vector<std::string> own;
    for (const auto& name : requests[0].HeaderNames())
        if (name != "Host" && name != "User-Agent" && name != "Content-Length")
            own.push_back(name);
    EXPECT_EQ(own, (std::vector<std::string>{"Accept-Encoding", "Content-Type", "Method"}));
    EXPECT_EQ(requests[0].Header("Accept-Encoding"), "identity,gzip,deflate");
    EXPECT_EQ(requests[0].Header("User-Agent"), "Sorvan");
    EXPECT_EQ(requests[0].body, "x&A=1%202%26&b=%c3%a9");
}

TEST_F(FileUploadTest, RetriedAttemptExtendsAcceptEncodingAgain) {
    Reply dropped;
    dropped.closeWithoutReply = true;
    server_.SetReplies("/api", {dropped, Reply::Text(200, "second")});
    FileUpload upload;
    upload.SendFormRequest(Url("/api"), HttpVerb::Get, {}, {{u"k", u"v"}}, false);
    EXPECT_EQ(upload.GetStatusCode(), 200);
    EXPECT_EQ(upload.GetResponseText(), "second");
    const auto requests = server_.RequestsTo("/api");
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("Accept-Encoding"), "gzip,deflate");
    EXPECT_EQ(requests[1].Header("Accept-Encoding"), "gzip,deflate,gzip,deflate");
    EXPECT_EQ(requests[1].method, "GET");
}

TEST_F(FileUploadTest, UnreachableServerGives9000AfterThreeAttempts) {
    FileUpload upload;
    upload.SendFormRequest(
        StringUtils::ToWide(
            "https://127.0.0.1:" + std::to_string(TestServers::UnusedLoopbackPort()) + "/api"),
        HttpVerb::Post, {}, {{u"a", u"b"}}, true);
    EXPECT_EQ(upload.GetStatusCode(), FileUpload::FailedStatus);
    EXPECT_EQ(upload.GetResponseText(), "");
    EXPECT_EQ(CountEntries("Error on HttpSendRequest, "), 3u);
    EXPECT_EQ(CountEntries("Opening connection for: api"), 3u);
}

TEST_F(FileUploadTest, BodyUploadArrivesWholeInPieces) {
    server_.SetReply("/log", Reply::Text(200, "stored"));
    for (const std::size_t size : {std::size_t{2049}, std::size_t{1024}}) {
        server_.ClearRequests();
        std::string bytes(size, '\0');
        for (std::size_t i = 0; i < size; ++i)
            bytes[i] = static_cast<char>(i * 13 + 5);
        FileUpload upload;
        upload.SendBodyRequest(
            Url("/log"), HttpVerb::Post,
            {{u"Method", u"LogErrorInfo"}, {u"Content-Type", u"application/gzip"}},
            vesk::ByteBuffer(bytes));
        EXPECT_EQ(upload.GetStatusCode(), 200);
        const auto requests = server_.RequestsTo("/log");
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].Header("Content-Length"), std::to_string(size));
        EXPECT_EQ(requests[0].Header("Method"), "LogErrorInfo");
        EXPECT_EQ(requests[0].body, bytes);
        EXPECT_EQ(requests[0].bodyPieces, (size + 1023) / 1024);
    }
}

TEST_F(FileUploadTest, RepliesAreKeptAsTheServerSentThem) {
    // Any status ends the request after one attempt; the caller judges it.
    server_.SetReply("/fail", Reply::Text(500, "server trouble"));
    FileUpload failed;
    failed.SendFormRequest(Url("/fail"), HttpVerb::Post, {}, {}, false);
    EXPECT_EQ(failed.GetStatusCode(), 500);
    EXPECT_EQ(failed.GetResponseText(), "server trouble");
    EXPECT_EQ(server_.RequestsTo("/fail").size(), 1u);

    server_.SetReply("/zero", Reply::Text(200, std::string("before\0after", 12)));
    FileUpload zero;
    zero.SendFormRequest(Url("/zero"), HttpVerb::Post, {}, {}, false);
    EXPECT_EQ(zero.GetResponseText(), "before");

    Reply packed = Reply::Text(200, std::string(300000, 'z') + "end");
    packed.gzip = true;
    server_.SetReply("/packed", packed);
    FileUpload decoded;
    decoded.SendFormRequest(Url("/packed"), HttpVerb::Post, {}, {}, false);
    EXPECT_EQ(decoded.GetResponseText(), std::string(300000, 'z') + "end");
}

TEST_F(FileUploadTest, EndlessReplyStopsAtTheCap) {
    Reply endless;
    endless.endless = true;
    server_.SetReply("/endless", endless);
    FileUpload upload;
    upload.SendFormRequest(Url("/endless"), HttpVerb::Post, {}, {}, false);
    EXPECT_EQ(upload.GetStatusCode(), 200);
    EXPECT_EQ(upload.GetResponseText(), "");
    EXPECT_EQ(server_.RequestsTo("/endless").size(), 1u);
    EXPECT_EQ(CountEntries("FileUpload: reply larger than " +
                           std::to_string(DownloadSystem::MaxReplyBytes)),
              1u);
}

}  // namespace
