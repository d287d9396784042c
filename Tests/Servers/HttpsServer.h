// In-process HTTPS server for tests: 127.0.0.1 on an ephemeral port, a certificate made for the
// test run, replies chosen per path (faults included), static folders, and a record of requests.
//
//     TestServers::HttpsServer server;
//     server.SetReply("/file.bin", TestServers::Reply::Pattern(4096));
//     ... client fetches server.Url("/file.bin") ...
//     EXPECT_EQ(server.Requests().at(0).method, "GET");
//
// Every connection runs on its own thread; the destructor (or Stop) ends them all promptly,
// also while a reply is slow, silent or endless. The server ignores SIGPIPE process-wide.
#pragma once

#include "Servers/HttpExchange.h"
#include "Servers/TestCertificates.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace TestServers {

using Handler = std::function<Reply(const RecordedRequest&)>;

class HttpsServer {
public:
    // Starts listening at once; Port() is 0 when the server could not start.
    explicit HttpsServer(CertificateKind certificate = CertificateKind::Valid);
    ~HttpsServer();
    HttpsServer(const HttpsServer&) = delete;
    HttpsServer& operator=(const HttpsServer&) = delete;

    std::uint16_t Port() const { return port_; }
    std::string Host() const { return "127.0.0.1"; }
    std::string Address() const;                     // "127.0.0.1:port"
    std::string Url(const std::string& path) const;  // "https://127.0.0.1:port" + path

    // Routes by exact path (the query is ignored). A later call for the same path replaces the
    // earlier one. Unrouted paths answer 404.
    void SetReply(const std::string& path, Reply reply);
    // The n-th request to `path` gets replies[n]; the last one repeats.
    void SetReplies(const std::string& path, std::vector<Reply> replies);
    // The handler runs on the connection's thread for every request to `path`.
    void SetHandler(const std::string& path, Handler handler);
    // Files below `folder` under the URL prefix (e.g. "/files/"); longest prefix wins.
    void ServeFolder(const std::string& prefix, const std::filesystem::path& folder);

    std::vector<RecordedRequest> Requests() const;
    std::vector<RecordedRequest> RequestsTo(const std::string& path) const;
    void ClearRequests();
    // Waits until at least `count` requests were recorded; false after `timeout`.
    bool WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const;
    // Connections accepted, and those whose TLS handshake failed (a client refusing the
    // certificate shows up here).
    std::size_t ConnectionCount() const;
    std::size_t HandshakeFailures() const;

    // Stops listening, cuts every open connection and joins every thread. Idempotent.
    void Stop();

    struct Connection;

private:
    struct Route {
        std::vector<Reply> replies;
        std::size_t served = 0;
        Handler handler;
    };

    void Listen();
    void Serve(Connection& connection);
    Reply Answer(const RecordedRequest& request);
    bool Wait(std::chrono::milliseconds duration) const;  // false when stopping
    void ReapFinished();

    SSL_CTX* context_ = nullptr;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t port_ = 0;
    std::thread listenThread_;

    mutable std::mutex mutex_;
    mutable std::condition_variable changed_;
    bool stopping_ = false;
    std::map<std::string, Route> routes_;
    std::map<std::string, std::filesystem::path> folders_;
    std::vector<RecordedRequest> requests_;
    std::vector<std::unique_ptr<Connection>> connections_;
    std::size_t connectionCount_ = 0;
    std::size_t handshakeFailures_ = 0;
};

}  // namespace TestServers
