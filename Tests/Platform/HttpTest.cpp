// Http service against the in-process HTTPS server: streaming reads, headers, uploads, decoding,
// certificate refusals, connection failures, time-outs, cancellation and bounded memory.
#include "Platform/Http.h"

#include "Servers/ConnectProxy.h"
#include "Servers/FreePort.h"
#include "Servers/HttpsServer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <thread>

namespace {

using namespace std::chrono_literals;
using Platform::HttpConnection;
using Platform::HttpRequest;
using Platform::HttpSession;
namespace HttpError = Platform::HttpError;
using TestServers::CertificateKind;
using TestServers::ConnectProxy;
using TestServers::HttpsServer;
using TestServers::PatternByte;
using TestServers::Reply;
using Clock = std::chrono::steady_clock;

// A session, connection and opened request for one server.
struct Exchange {
    HttpSession session;
    HttpConnection connection;
    HttpRequest request;

    Exchange(const std::string& address, const std::string& verb, const std::string& path,
             std::uint32_t receiveTimeout = 10000, bool decoding = false,
             Platform::HttpCancelCheck cancel = {}) {
        EXPECT_TRUE(session.Open("Http Test Agent"));
        session.SetConnectTimeout(5000);
        session.SetSendTimeout(10000);
        session.SetReceiveTimeout(receiveTimeout);
        session.SetDecoding(decoding);
        session.SetCancelCheck(std::move(cancel));
        EXPECT_TRUE(connection.Open(session, address, 443));
        EXPECT_TRUE(request.Open(connection, verb, path, true));
    }
};

// Reads the body in pieces of `piece` bytes; false when a read failed.
bool ReadBody(HttpRequest& request, std::size_t piece, std::string& body,
              std::size_t* largestRead = nullptr) {
    std::string buffer(piece, '\0');
    for (;;) {
        std::size_t got = 0;
        if (!request.Read(buffer.data(), buffer.size(), got))
            return false;
        if (got == 0)
            return true;
        if (largestRead != nullptr)
            *largestRead = std::max(*largestRead, got);
        body.append(buffer.data(), got);
    }
}

bool IsPattern(const std::string& body, std::uint64_t offset = 0) {
    for (std::size_t i = 0; i < body.size(); ++i)
        if (static_cast<unsigned char>(body[i]) != PatternByte(offset + i))
            return false;
    return true;
}

long ResidentKiB() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0;
    long resident = 0;
    statm >> pages >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif

TEST(HttpTest, GetStreamsBodyInCallerSizedReadsWithStatusAndRawHeaders) {
    HttpsServer server;
    Reply reply = Reply::Pattern(300000);
    reply.headers = {{"X-Served-By", "test"}};
    server.SetReply("/big.bin", reply);

    Exchange exchange(server.Address(), "GET", "/big.bin?sig=abc");
    ASSERT_TRUE(exchange.request.Send("User-Agent: Custom Agent\r\n"))
        << exchange.request.LastError() << " " << exchange.request.LastErrorText();
    std::uint32_t status = 0;
    std::string headers;
    std::string text;
    ASSERT_TRUE(exchange.request.QueryStatusCode(status));
    ASSERT_TRUE(exchange.request.QueryRawHeaders(headers));
    ASSERT_TRUE(exchange.request.QueryStatusText(text));
    EXPECT_EQ(status, 200u);
    EXPECT_EQ(text, "OK");
    EXPECT_EQ(headers.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << headers;
    EXPECT_NE(headers.find("\r\nX-Served-By: test\r\n"), std::string::npos);
    EXPECT_NE(headers.find("\r\nContent-Length: 300000\r\n"), std::string::npos);
    EXPECT_TRUE(headers.ends_with("\r\n\r\n"));

    std::string body;
    std::size_t largest = 0;
    ASSERT_TRUE(ReadBody(exchange.request, 1000, body, &largest));
    EXPECT_EQ(body.size(), 300000u);
    EXPECT_TRUE(IsPattern(body));
    EXPECT_EQ(largest, 1000u);
    std::size_t got = 1;  // reading past the end keeps reporting the end
    char byte = 0;
    EXPECT_TRUE(exchange.request.Read(&byte, 1, got));
    EXPECT_EQ(got, 0u);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/big.bin?sig=abc");
    EXPECT_EQ(requests[0].Header("User-Agent"), "Custom Agent");
}

TEST(HttpTest, ErrorStatusIsAReplyNotAFailure) {
    HttpsServer server;
    server.SetReply("/broken", Reply::Text(500, "server says no"));
    Exchange exchange(server.Address(), "GET", "/missing");
    ASSERT_TRUE(exchange.request.Send(""));
    std::uint32_t status = 0;
    std::string text;
    exchange.request.QueryStatusCode(status);
    exchange.request.QueryStatusText(text);
    EXPECT_EQ(status, 404u);
    EXPECT_EQ(text, "Not Found");

    Exchange broken(server.Address(), "POST", "/broken");
    ASSERT_TRUE(broken.request.Send("", "x", 1));
    std::string body;
    broken.request.QueryStatusCode(status);
    EXPECT_EQ(status, 500u);
    ASSERT_TRUE(ReadBody(broken.request, 1 << 20, body));
    EXPECT_EQ(body, "server says no");
}

TEST(HttpTest, GetFollowsRedirectsAndServerHonoursRanges) {
    HttpsServer server;
    server.SetReply("/new", Reply::Pattern(5000));
    Reply moved = Reply::Text(302, "");
    moved.headers = {{"Location", server.Url("/new")}};
    server.SetReply("/old", moved);

    Exchange exchange(server.Address(), "GET", "/old");
    ASSERT_TRUE(exchange.request.Send("Range: bytes=100-199\r\n"));
    std::uint32_t status = 0;
    std::string headers;
    exchange.request.QueryStatusCode(status);
    exchange.request.QueryRawHeaders(headers);
    EXPECT_EQ(status, 206u);
    EXPECT_EQ(headers.find("302"), std::string::npos) << "only the final reply's headers";
    EXPECT_NE(headers.find("Content-Range: bytes 100-199/5000\r\n"), std::string::npos);
    std::string body;
    ASSERT_TRUE(ReadBody(exchange.request, 64, body));
    EXPECT_EQ(body.size(), 100u);
    EXPECT_TRUE(IsPattern(body, 100));
    EXPECT_EQ(server.Requests().size(), 2u);
}

TEST(HttpTest, HostPortWinsAndBadHostsAreRefused) {
    HttpsServer server;
    server.SetReply("/", Reply::Text(200, "root"));
    Exchange exchange(server.Address(), "GET", "/");  // port 443 given, the host's port wins
    ASSERT_TRUE(exchange.request.Send(""));

    HttpSession session;
    ASSERT_TRUE(session.Open("agent"));
    HttpConnection connection;
    for (const char* host : {"", "host:0", "host:70000", "host:12ab", "a/b", ":443"}) {
        EXPECT_FALSE(connection.Open(session, host, 443)) << host;
        EXPECT_EQ(connection.LastError(), HttpError::InvalidUrl) << host;
    }
    HttpRequest request;
    EXPECT_FALSE(request.Open(connection, "GET", "/", true));
    EXPECT_EQ(request.LastError(), HttpError::IncorrectHandleState);
    std::uint32_t status = 0;
    EXPECT_FALSE(request.QueryStatusCode(status));
}

TEST(HttpTest, PostSendsHeaderLinesInOrderAndNothingUnasked) {
    HttpsServer server;
    server.SetReply("/service", Reply::Text(200, "{}"));
    Exchange exchange(server.Address(), "POST", "/service");
    const std::string form = "a=1&b=%20x";
    ASSERT_TRUE(exchange.request.Send(
        "Accept-Encoding: identity,gzip,deflate\r\nContent-Type: "
        "application/x-www-form-urlencoded\r\nEmpty:\r\nMethod: RequestDownload",
        form.data(), form.size()));

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.body, form);
    EXPECT_EQ(request.Header("Content-Length"), std::to_string(form.size()));
    EXPECT_EQ(request.Header("User-Agent"), "Http Test Agent");
    EXPECT_EQ(request.Header("Accept-Encoding"), "identity,gzip,deflate");
    std::vector<std::string> names = request.HeaderNames();
    std::vector<std::string> ours;
    for (const std::string& name : names)
        if (name == "Accept-Encoding" || name == "Content-Type" || name == "Empty" ||
            name == "Method")
            ours.push_back(name);
    EXPECT_EQ(ours,
              (std::vector<std::string>{"Accept-Encoding", "Content-Type", "Empty", "Method"}));
    for (const std::string& name : names)
        EXPECT_TRUE(name != "Accept" && name != "Expect" && name != "Transfer-Encoding") << name;
}

TEST(HttpTest, StreamedUploadArrivesWholeInTheCallersPieces) {
    HttpsServer server;
    server.SetReply("/upload", Reply::Text(200, "stored"));
    std::string body(2049, '\0');
    for (std::size_t i = 0; i < body.size(); ++i)
        body[i] = static_cast<char>(i * 7);

    Exchange exchange(server.Address(), "POST", "/upload");
    ASSERT_TRUE(exchange.request.BeginUpload("Method: LogErrorInfo\r\n", body.size()));
    for (std::size_t sent = 0; sent < body.size();) {
        std::size_t piece = std::min<std::size_t>(1024, body.size() - sent);
        std::size_t written = 0;
        ASSERT_TRUE(exchange.request.Write(body.data() + sent, piece, written));
        ASSERT_EQ(written, piece);
        sent += written;
    }
    std::size_t written = 0;
    EXPECT_FALSE(exchange.request.Write("x", 1, written));  // past the announced length
    EXPECT_EQ(exchange.request.LastError(), HttpError::InvalidParameter);
    ASSERT_TRUE(exchange.request.EndUpload());
    std::string reply;
    ASSERT_TRUE(ReadBody(exchange.request, 1 << 20, reply));
    EXPECT_EQ(reply, "stored");

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].Header("Content-Length"), "2049");
    EXPECT_EQ(requests[0].Header("Method"), "LogErrorInfo");
    EXPECT_EQ(requests[0].body, body);
    EXPECT_EQ(requests[0].bodyPieces, 3u);
}

// Behind a company proxy every kind of request must reach the server whole, and the
// reply seen is the server's, not the proxy's "200 Connection established".
TEST(HttpTest, EveryRequestGoesThroughAConnectProxyFromTheProxyVariables) {
    HttpsServer server;
    server.SetReply("/service", Reply::Text(201, "{\"ok\":1}"));
    server.SetReply("/file", Reply::Pattern(100000));
    ConnectProxy proxy;
    ASSERT_NE(proxy.Port(), 0);
    TestServers::ProxyVariables variables(proxy.Url());
    const std::string form = "Method=RequestDownload&release=9_5&computer=abcdef0123456789";

    for (int round = 0; round < 4; ++round) {  // each kind twice: new and reused connections
        SCOPED_TRACE(round);
        {
            Exchange post(server.Address(), "POST", "/service");
            ASSERT_TRUE(post.request.Send("Content-Type: application/x-www-form-urlencoded",
                                          form.data(), form.size()))
                << post.request.LastError() << " " << post.request.LastErrorText();
            std::uint32_t status = 0;
            std::string headers;
            ASSERT_TRUE(post.request.QueryStatusCode(status));
            ASSERT_TRUE(post.request.QueryRawHeaders(headers));
            EXPECT_EQ(status, 201u);
            EXPECT_EQ(headers.rfind("HTTP/1.1 201 ", 0), 0u) << headers;
            std::string reply;
            ASSERT_TRUE(ReadBody(post.request, 4096, reply));
            EXPECT_EQ(reply, "{\"ok\":1}");
        }
        {
            Exchange upload(server.Address(), "POST", "/service");
            ASSERT_TRUE(upload.request.BeginUpload("", form.size()));
            std::size_t written = 0;
            ASSERT_TRUE(upload.request.Write(form.data(), form.size(), written));
            ASSERT_TRUE(upload.request.EndUpload());
            std::uint32_t status = 0;
            ASSERT_TRUE(upload.request.QueryStatusCode(status));
            EXPECT_EQ(status, 201u);
        }
        {
            Exchange get(server.Address(), "GET", "/file");
            ASSERT_TRUE(get.request.Send(""));
            std::string body;
            ASSERT_TRUE(ReadBody(get.request, 65536, body));
            EXPECT_EQ(body.size(), 100000u);
            EXPECT_TRUE(IsPattern(body));
        }
    }
    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 12u);
    for (const auto& request : requests) {
        if (request.method == "POST") {
            EXPECT_EQ(request.body, form);
        }
    }
    ASSERT_FALSE(proxy.Targets().empty());
    for (const std::string& target : proxy.Targets())
        EXPECT_EQ(target, server.Address());

    // A host named in no_proxy is reached directly.
    TestServers::ProxyVariables bypass(proxy.Url(), "127.0.0.1");
    std::size_t tunnels = proxy.Targets().size();
    Exchange direct(server.Address(), "GET", "/file");
    ASSERT_TRUE(direct.request.Send(""));
    EXPECT_EQ(proxy.Targets().size(), tunnels);
}

TEST(HttpTest, ShortUploadIsAFailureNotASentRequest) {
    HttpsServer server;
    server.SetReply("/upload", Reply::Text(200, "stored"));
    Exchange exchange(server.Address(), "POST", "/upload");
    ASSERT_TRUE(exchange.request.BeginUpload("", 100));
    std::size_t written = 0;
    ASSERT_TRUE(exchange.request.Write("0123456789", 10, written));
    EXPECT_FALSE(exchange.request.EndUpload());
    EXPECT_EQ(exchange.request.LastError(), HttpError::IncorrectHandleState);
    std::uint32_t status = 0;
    EXPECT_FALSE(exchange.request.QueryStatusCode(status));
}

TEST(HttpTest, GzipRepliesAreDecodedOnlyWhenAsked) {
    HttpsServer server;
    Reply reply = Reply::Pattern(100000);
    reply.gzip = true;
    server.SetReply("/packed", reply);

    Exchange decoded(server.Address(), "GET", "/packed", 10000, true);
    ASSERT_TRUE(decoded.request.Send("Accept-Encoding: gzip,deflate\r\n"));
    std::string body;
    ASSERT_TRUE(ReadBody(decoded.request, 4096, body));
    EXPECT_EQ(body.size(), 100000u);
    EXPECT_TRUE(IsPattern(body));

    Exchange raw(server.Address(), "GET", "/packed", 10000, false);
    ASSERT_TRUE(raw.request.Send(""));
    body.clear();
    ASSERT_TRUE(ReadBody(raw.request, 4096, body));
    ASSERT_GE(body.size(), 2u);
    EXPECT_EQ(static_cast<unsigned char>(body[0]), 0x1f);
    EXPECT_EQ(static_cast<unsigned char>(body[1]), 0x8b);

    auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[0].Header("Accept-Encoding"), "gzip,deflate");
    EXPECT_EQ(requests[1].Header("Accept-Encoding"), "");  // decoding adds no header of its own
}

TEST(HttpTest, CertificatesThatDoNotVerifyAreRefusedWithTheirNumbers) {
    const std::pair<CertificateKind, std::uint32_t> cases[] = {
        {CertificateKind::WrongName, HttpError::CertificateNameInvalid},
        {CertificateKind::Expired, HttpError::CertificateDateInvalid},
        {CertificateKind::UnknownAuthority, HttpError::InvalidCertificateAuthority},
    };
    for (const auto& [kind, expected] : cases) {
        HttpsServer server(kind);
        server.SetReply("/", Reply::Text(200, "secret"));
        Exchange exchange(server.Address(), "GET", "/");
        EXPECT_FALSE(exchange.request.Send(""));
        EXPECT_EQ(exchange.request.LastError(), expected) << exchange.request.LastErrorText();
        EXPECT_TRUE(server.Requests().empty());
    }
}

TEST(HttpTest, UnreachableServerReportsCannotConnect) {
    Exchange exchange("127.0.0.1:" + std::to_string(TestServers::UnusedLoopbackPort()), "POST",
                      "/service");
    EXPECT_FALSE(exchange.request.Send("", "a=1", 3));
    EXPECT_EQ(exchange.request.LastError(), HttpError::CannotConnect);
}

TEST(HttpTest, SilentServerFailsAfterTheReceiveTimeout) {
    HttpsServer server;
    Reply silent;
    silent.silent = true;
    server.SetReply("/silent", silent);
    Reply stalls = Reply::Pattern(100000);
    stalls.slowPiece = 1000;
    stalls.slowPause = 60s;
    server.SetReply("/stalls", stalls);

    Exchange waiting(server.Address(), "GET", "/silent", 300);
    auto start = Clock::now();
    EXPECT_FALSE(waiting.request.Send(""));
    EXPECT_EQ(waiting.request.LastError(), HttpError::Timeout);
    EXPECT_LT(Clock::now() - start, 20s);  // bounded, not never

    Exchange stalled(server.Address(), "GET", "/stalls", 300);
    ASSERT_TRUE(stalled.request.Send(""));
    std::string body;
    EXPECT_FALSE(ReadBody(stalled.request, 4096, body));
    EXPECT_EQ(stalled.request.LastError(), HttpError::Timeout);
    EXPECT_EQ(body.size(), 1000u);
}

// Each step is a GET on a new session, as each download opens its own: a connection is reused
// only after a reply read to its end, and a server's silence on a reused one still times out.
TEST(HttpTest, ConnectionsAreReusedOnlyAfterAWholeReply) {
    HttpsServer server;
    server.SetReply("/small", Reply::Pattern(1000));
    server.SetReply("/large", Reply::Pattern(1000000));
    Reply dropped = Reply::Pattern(1000);
    dropped.dropIdle = true;
    server.SetReply("/dropped", dropped);
    Reply silent;
    silent.silent = true;
    server.SetReply("/silent", silent);

    struct Step {
        const char* path;
        std::size_t readLimit;  // the caller stops reading after this much
        bool reusesConnection;
    };
    const Step steps[] = {
        {"/small", SIZE_MAX, false},   // the first connection
        {"/small", SIZE_MAX, true},    // whole reply before: reused
        {"/large", 4096, true},        // reused, but left with most of its body unread...
        {"/small", SIZE_MAX, false},   // ...so not reused: no stale body bytes here
        {"/dropped", SIZE_MAX, true},  // the server closes it afterwards without a word...
        {"/small", SIZE_MAX, false},   // ...which the next request survives
    };
    for (const Step& step : steps) {
        const std::size_t before = server.ConnectionCount();
        Exchange exchange(server.Address(), "GET", step.path);
        ASSERT_TRUE(exchange.request.Send("")) << step.path;
        std::string body;
        if (step.readLimit == SIZE_MAX) {
            EXPECT_TRUE(ReadBody(exchange.request, 4096, body)) << step.path;
            EXPECT_EQ(body.size(), 1000u) << step.path;
        } else {
            std::string piece(step.readLimit, '\0');
            std::size_t got = 0;
            ASSERT_TRUE(exchange.request.Read(piece.data(), piece.size(), got));
            body.assign(piece.data(), got);
        }
        EXPECT_TRUE(IsPattern(body)) << step.path;
        // A dropped connection found closed before or after the request went out: either way
        // the request is answered over one new connection.
        EXPECT_EQ(server.ConnectionCount(), before + (step.reusesConnection ? 0 : 1)) << step.path;
    }

    Exchange warm(server.Address(), "GET", "/small");
    ASSERT_TRUE(warm.request.Send(""));
    std::string body;
    ASSERT_TRUE(ReadBody(warm.request, 4096, body));
    warm.request.Close();
    const std::size_t before = server.ConnectionCount();
    Exchange waiting(server.Address(), "GET", "/silent", 300);
    const auto start = Clock::now();
    EXPECT_FALSE(waiting.request.Send(""));
    EXPECT_EQ(waiting.request.LastError(), HttpError::Timeout);
    EXPECT_LT(Clock::now() - start, 20s);
    EXPECT_EQ(server.ConnectionCount(), before);  // it was the reused connection that waited
}

TEST(HttpTest, CutConnectionsFailTheRead) {
    HttpsServer server;
    Reply cut = Reply::Pattern(200000);
    cut.dropAfter = 50000;
    server.SetReply("/cut", cut);
    Reply reset = cut;
    reset.resetOnDrop = true;
    server.SetReply("/reset", reset);
    // Without a length only TLS can tell a cut from the end: a close without its
    // close_notify is a cut. One that ends with it is the whole body.
    Reply delimitedCut = cut;
    delimitedCut.closeDelimited = true;
    server.SetReply("/delimited-cut", delimitedCut);
    Reply delimited = Reply::Pattern(200000);
    delimited.closeDelimited = true;
    server.SetReply("/delimited", delimited);

    Exchange whole(server.Address(), "GET", "/delimited");
    ASSERT_TRUE(whole.request.Send(""));
    std::string wholeBody;
    EXPECT_TRUE(ReadBody(whole.request, 4096, wholeBody)) << whole.request.LastError();
    EXPECT_EQ(wholeBody.size(), 200000u);

    for (const char* path : {"/cut", "/reset", "/delimited-cut"}) {
        Exchange exchange(server.Address(), "GET", path);
        ASSERT_TRUE(exchange.request.Send(""));
        std::string body;
        EXPECT_FALSE(ReadBody(exchange.request, 4096, body)) << path;
        EXPECT_TRUE(exchange.request.LastError() == HttpError::ConnectionAborted ||
                    exchange.request.LastError() == HttpError::ConnectionReset)
            << path << " " << exchange.request.LastError();
        EXPECT_LE(body.size(), 50000u);
        EXPECT_TRUE(IsPattern(body));
    }
}

TEST(HttpTest, CancelEndsBlockedCallsPromptly) {
    HttpsServer server;
    Reply stalls = Reply::Pattern(100000);
    stalls.slowPiece = 1000;
    stalls.slowPause = 60s;
    server.SetReply("/stalls", stalls);
    Reply silent;
    silent.silent = true;
    server.SetReply("/silent", silent);

    for (const char* path : {"/stalls", "/silent"}) {
        std::atomic<bool> stop{false};
        Exchange exchange(server.Address(), "GET", path, 60000, false,
                          [&stop] { return stop.load(); });
        std::atomic<Clock::rep> askedAt{0};
        std::thread stopper([&] {
            std::this_thread::sleep_for(300ms);
            askedAt = Clock::now().time_since_epoch().count();
            stop = true;
        });
        bool ok = exchange.request.Send("");
        std::string body;
        if (ok)
            ok = ReadBody(exchange.request, 4096, body);
        auto endedAt = Clock::now();
        stopper.join();
        EXPECT_FALSE(ok) << path;
        EXPECT_EQ(exchange.request.LastError(), HttpError::OperationCancelled) << path;
        auto late = endedAt - Clock::time_point(Clock::duration(askedAt.load()));
        EXPECT_LT(late, 1s) << path;
    }
}

TEST(HttpTest, EndlessBodyIsReadThroughBoundedMemory) {
    HttpsServer server;
    Reply endless;
    endless.endless = true;
    server.SetReply("/endless", endless);

    Exchange exchange(server.Address(), "GET", "/endless");
    ASSERT_TRUE(exchange.request.Send(""));
    const std::uint64_t total = 48ull << 20;
    std::string buffer(4096, '\0');
    std::uint64_t received = 0;
    bool matches = true;
    long before = ResidentKiB();
    while (received < total) {
        std::size_t got = 0;
        ASSERT_TRUE(exchange.request.Read(buffer.data(), buffer.size(), got));
        ASSERT_GT(got, 0u);
        matches = matches && IsPattern(buffer.substr(0, got), received);
        received += got;
    }
    EXPECT_TRUE(matches);
    if (!kSanitized) {
        EXPECT_LT(ResidentKiB() - before, 16 * 1024);
    }
    // The caller stops reading; closing must not wait for the body's end.
    exchange.request.Close();
}

}  // namespace
