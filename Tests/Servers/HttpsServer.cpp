// The test HTTPS server's life: listening socket, one thread per connection, routing, the
// request record, and a stop that cuts every connection and joins every thread.
#include "Servers/HttpsServer.h"

#include "Servers/ReplyWriter.h"
#include "Servers/TlsStream.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <csignal>

namespace TestServers {

struct HttpsServer::Connection {
    std::mutex mutex;
    int fd = -1;
    std::thread thread;
    std::atomic<bool> finished{false};

    // Unblocks the connection's thread wherever it waits on the socket.
    void Shut() {
        std::lock_guard lock(mutex);
        if (fd >= 0)
            ::shutdown(fd, SHUT_RDWR);
    }
};

HttpsServer::HttpsServer(CertificateKind certificate) {
    std::signal(SIGPIPE, SIG_IGN);  // a client hanging up must not end the test process
    context_ = MakeServerContext(certificate);
    if (context_ == nullptr)
        return;
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listener_ < 0 || ::pipe2(wake_, O_CLOEXEC) != 0)
        return;
    int on = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(listener_, 64) != 0 ||
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &size) != 0)
        return;
    port_ = ntohs(address.sin_port);
    listenThread_ = std::thread([this] { Listen(); });
}

HttpsServer::~HttpsServer() {
    Stop();
    for (int fd : {listener_, wake_[0], wake_[1]})
        if (fd >= 0)
            ::close(fd);
    SSL_CTX_free(context_);
}

std::string HttpsServer::Address() const {
    return Host() + ":" + std::to_string(port_);
}
std::string HttpsServer::Url(const std::string& path) const {
    return "https://" + Address() + path;
}

void HttpsServer::SetReply(const std::string& path, Reply reply) {
    SetReplies(path, {std::move(reply)});
}

void HttpsServer::SetReplies(const std::string& path, std::vector<Reply> replies) {
    std::lock_guard lock(mutex_);
    routes_[path] = Route{std::move(replies), 0, {}};
}

void HttpsServer::SetHandler(const std::string& path, Handler handler) {
    std::lock_guard lock(mutex_);
    routes_[path] = Route{{}, 0, std::move(handler)};
}

void HttpsServer::ServeFolder(const std::string& prefix, const std::filesystem::path& folder) {
    std::lock_guard lock(mutex_);
    folders_[prefix] = folder;
}

std::vector<RecordedRequest> HttpsServer::Requests() const {
    std::lock_guard lock(mutex_);
    return requests_;
}

std::vector<RecordedRequest> HttpsServer::RequestsTo(const std::string& path) const {
    std::lock_guard lock(mutex_);
    std::vector<RecordedRequest> matching;
    for (const RecordedRequest& request : requests_)
        if (request.path == path)
            matching.push_back(request);
    return matching;
}

void HttpsServer::ClearRequests() {
    std::lock_guard lock(mutex_);
    requests_.clear();
}

bool HttpsServer::WaitForRequests(std::size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return changed_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

std::size_t HttpsServer::ConnectionCount() const {
    std::lock_guard lock(mutex_);
    return connectionCount_;
}

std::size_t HttpsServer::HandshakeFailures() const {
    std::lock_guard lock(mutex_);
    return handshakeFailures_;
}

bool HttpsServer::Wait(std::chrono::milliseconds duration) const {
    std::unique_lock lock(mutex_);
    return !changed_.wait_for(lock, duration, [this] { return stopping_; });
}

void HttpsServer::Stop() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    changed_.notify_all();
    if (wake_[1] >= 0) {
        char byte = 0;
        [[maybe_unused]] ssize_t ignored = ::write(wake_[1], &byte, 1);
    }
    if (listenThread_.joinable())
        listenThread_.join();
    std::vector<std::unique_ptr<Connection>> open;
    {
        std::lock_guard lock(mutex_);
        open.swap(connections_);
    }
    for (auto& connection : open)
        connection->Shut();
    for (auto& connection : open)
        connection->thread.join();
}

void HttpsServer::ReapFinished() {
    std::vector<std::unique_ptr<Connection>> done;
    {
        std::lock_guard lock(mutex_);
        for (auto it = connections_.begin(); it != connections_.end();) {
            if ((*it)->finished) {
                done.push_back(std::move(*it));
                it = connections_.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (auto& connection : done)
        connection->thread.join();
}

void HttpsServer::Listen() {
    for (;;) {
        pollfd watched[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        ::poll(watched, 2, 1000);
        {
            std::lock_guard lock(mutex_);
            if (stopping_)
                return;
        }
        ReapFinished();
        if ((watched[0].revents & POLLIN) == 0)
            continue;
        int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        int on = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        auto connection = std::make_unique<Connection>();
        connection->fd = fd;
        Connection& accepted = *connection;
        std::lock_guard lock(mutex_);
        ++connectionCount_;
        connections_.push_back(std::move(connection));
        accepted.thread = std::thread([this, &accepted] { Serve(accepted); });
    }
}

Reply HttpsServer::Answer(const RecordedRequest& request) {
    std::unique_lock lock(mutex_);
    auto route = routes_.find(request.path);
    if (route != routes_.end()) {
        if (route->second.handler) {
            Handler handler = route->second.handler;
            lock.unlock();
            return handler(request);
        }
        std::vector<Reply>& replies = route->second.replies;
        if (!replies.empty()) {
            std::size_t index = std::min(route->second.served++, replies.size() - 1);
            return replies[index];
        }
    }
    const std::filesystem::path* folder = nullptr;
    std::size_t matched = 0;
    for (const auto& [prefix, path] : folders_) {
        if (request.path.rfind(prefix, 0) == 0 && prefix.size() >= matched) {
            folder = &path;
            matched = prefix.size();
        }
    }
    if (folder != nullptr) {
        std::filesystem::path relative(request.path.substr(matched));
        bool inside = !relative.empty() && relative.is_relative();
        for (const auto& part : relative)
            if (part == "..")
                inside = false;
        if (inside) {
            Reply reply;
            reply.file = *folder / relative;
            return reply;
        }
    }
    return Reply::Text(404, "");
}

void HttpsServer::Serve(Connection& connection) {
    SSL* ssl = SSL_new(context_);
    AfterReply after = AfterReply::Cut;
    if (ssl != nullptr && SSL_set_fd(ssl, connection.fd) == 1 && SSL_accept(ssl) == 1) {
        TlsStream stream(ssl);
        for (;;) {
            RecordedRequest request;
            ReadResult read = ReadRequest(stream, request);
            if (read == ReadResult::Closed)
                break;
            if (read == ReadResult::Malformed) {
                stream.Write(
                    "HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n"
                    "Connection: close\r\n\r\n");
                after = AfterReply::Close;
                break;
            }
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
            }
            changed_.notify_all();
            after = WriteReply(stream, request, Answer(request),
                               [this](std::chrono::milliseconds d) { return Wait(d); });
            if (after == AfterReply::StaySilent) {
                // Hold the connection until the client gives up or the server stops.
                pollfd watched{connection.fd, POLLRDHUP, 0};
                while (Wait(std::chrono::milliseconds(20)) && ::poll(&watched, 1, 0) == 0) {
                }
                after = AfterReply::Cut;
            }
            if (after != AfterReply::KeepAlive)
                break;
        }
        if (after == AfterReply::Close)
            SSL_shutdown(ssl);
        if (after == AfterReply::CutWithReset) {
            linger abortive{1, 0};
            ::setsockopt(connection.fd, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
        }
    } else {
        std::lock_guard lock(mutex_);
        ++handshakeFailures_;
    }
    SSL_free(ssl);
    ERR_clear_error();
    {
        std::lock_guard lock(connection.mutex);
        ::close(connection.fd);
        connection.fd = -1;
    }
    connection.finished = true;
}

}  // namespace TestServers
