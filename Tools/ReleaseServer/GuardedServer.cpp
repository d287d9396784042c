// Connections with deadlines, a stop flag and a thread each (OpenSSL, poll).
#include "GuardedServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <openssl/err.h>

#include <algorithm>
#include <condition_variable>
#include <list>
#include <mutex>
#include <system_error>
#include <thread>

namespace Tools {

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kSlice = std::chrono::milliseconds(100);

// Set while a connection is handed to process_and_close_socket only to be closed.
thread_local bool refuseOnThisThread = false;

// One thread per connection; finished threads are joined as new ones start and
// all of them before the accept loop returns.
class ConnectionThreads : public httplib::TaskQueue {
public:
    void enqueue(std::function<void()> fn) override {
        std::lock_guard lock(mutex_);
        Reap();
        auto done = std::make_shared<std::atomic<bool>>(false);
        try {
            workers_.push_back({std::thread([fn, done] {
                                    fn();
                                    *done = true;
                                }),
                                done});
        } catch (const std::system_error&) {
            // No thread to be had: the connection is closed on this thread at once.
            refuseOnThisThread = true;
            fn();
            refuseOnThisThread = false;
        }
    }
    void shutdown() override {
        std::lock_guard lock(mutex_);
        for (Worker& w : workers_) {
            w.thread.join();
        }
        workers_.clear();
    }
    void on_idle() override {
        std::lock_guard lock(mutex_);
        Reap();
    }

private:
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    void Reap() {
        for (auto it = workers_.begin(); it != workers_.end();) {
            if (*it->done) {
                it->thread.join();
                it = workers_.erase(it);
            } else {
                ++it;
            }
        }
    }
    std::mutex mutex_;
    std::list<Worker> workers_;
};

std::string AddressText(const sockaddr_storage& address, int& port) {
    char text[INET6_ADDRSTRLEN] = {};
    port = 0;
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        inet_ntop(AF_INET, &v4.sin_addr, text, sizeof text);
        port = ntohs(v4.sin_port);
    } else if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        inet_ntop(AF_INET6, &v6.sin6_addr, text, sizeof text);
        port = ntohs(v6.sin6_port);
    } else if (address.ss_family == AF_UNIX) {
        return "local";
    }
    return text;
}

// The share a peer's connections count against: its IPv4 address, or the /64
// of an IPv6 one (one host's usual allocation); empty for local sockets.
std::string AddressShareKey(int fd) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    if (getpeername(fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
        return {};
    }
    if (address.ss_family == AF_INET) {
        const auto& v4 = reinterpret_cast<const sockaddr_in&>(address);
        return std::string(reinterpret_cast<const char*>(&v4.sin_addr), 4);
    }
    if (address.ss_family == AF_INET6) {
        const auto& v6 = reinterpret_cast<const sockaddr_in6&>(address);
        const auto* bytes = reinterpret_cast<const char*>(&v6.sin6_addr);
        if (IN6_IS_ADDR_V4MAPPED(&v6.sin6_addr)) {
            return std::string(bytes + 12, 4);
        }
        return std::string(bytes, 8);
    }
    return {};
}

// The socket stream the library parses requests from and writes replies to.
class ConnectionStream : public httplib::Stream {
public:
    ConnectionStream(int fd, SSL* ssl, const std::atomic<bool>& stopping,
                     const ConnectionLimits& limits)
        : fd_(fd), ssl_(ssl), stopping_(stopping), limits_(limits) {}

    void BeginRequest() {
        deadline_ = Clock::now() + limits_.requestDeadline;
        headerBytes_ = 0;
        inHeaders_ = true;
    }
    // From here on only the body is read: its bytes as sent, framing included,
    // count against `bodyBudget`.
    void EndHeaders(std::size_t bodyBudget) {
        inHeaders_ = false;
        bodyBytes_ = 0;
        bodyBudget_ = bodyBudget;
    }
    bool closeAfterReply = false;

    // Waits until `events` are ready; false on the deadline, a stop or an error.
    bool Wait(short events, Clock::time_point until) const {
        while (!stopping_) {
            auto now = Clock::now();
            if (now >= until) {
                return false;
            }
            Ready ready = PollOnce(events, std::min<Clock::duration>(until - now, kSlice));
            if (ready != Ready::kNotYet) {
                return ready == Ready::kYes;
            }
        }
        return false;
    }

    // TLS handshake under the request deadline.
    bool Handshake() {
        while (true) {
            int r = SSL_accept(ssl_);
            if (r == 1) {
                return true;
            }
            int e = SSL_get_error(ssl_, r);
            if (e == SSL_ERROR_WANT_READ    ? !Wait(POLLIN, ReadUntil())
                : e == SSL_ERROR_WANT_WRITE ? !Wait(POLLOUT, ReadUntil())
                                            : true) {
                return false;
            }
        }
    }

    // Waits for the first byte of the next request on a kept-alive connection.
    bool WaitForNextRequest() {
        if (ssl_ != nullptr && SSL_pending(ssl_) > 0) {
            return true;
        }
        if (bufferedEnd_ > bufferedStart_) {
            return true;
        }
        return Wait(POLLIN, Clock::now() + limits_.keepAlive);
    }

    bool is_readable() const override { return true; }  // read() does the waiting
    bool is_writable() const override { return WaitToSend(POLLOUT); }

    ssize_t read(char* ptr, size_t size) override {
        if (size == 0) {
            return 0;
        }
        if (inHeaders_) {
            if (headerBytes_ >= limits_.maxHeaderBytes) {
                return -1;
            }
            size = std::min(size, limits_.maxHeaderBytes - headerBytes_);
        } else {
            // Chunk-size lines, extensions and trailers are read by the library
            // into buffers of its own, so they are counted here, where every
            // byte passes.
            if (bodyBytes_ >= bodyBudget_) {
                return -1;
            }
            size = std::min(size, bodyBudget_ - bodyBytes_);
        }
        ssize_t n = ssl_ != nullptr ? ReadTls(ptr, size) : ReadPlain(ptr, size);
        if (n > 0) {
            (inHeaders_ ? headerBytes_ : bodyBytes_) += static_cast<size_t>(n);
        }
        return n;
    }

    ssize_t write(const char* ptr, size_t size) override {
        if (size == 0) {
            return 0;
        }
        while (!stopping_) {
            if (ssl_ != nullptr) {
                int n = SSL_write(ssl_, ptr, static_cast<int>(std::min<size_t>(size, 1 << 30)));
                if (n > 0) {
                    return n;
                }
                int e = SSL_get_error(ssl_, n);
                short events = e == SSL_ERROR_WANT_READ    ? POLLIN
                               : e == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                           : 0;
                if (events == 0 || !WaitToSend(events)) {
                    return -1;
                }
            } else {
                ssize_t n = send(fd_, ptr, size, MSG_NOSIGNAL);
                if (n >= 0) {
                    return n;
                }
                if (errno == EINTR) {
                    continue;
                }
                if ((errno != EAGAIN && errno != EWOULDBLOCK) || !WaitToSend(POLLOUT)) {
                    return -1;
                }
            }
        }
        return -1;
    }

    void get_remote_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        ip = getpeername(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0
                 ? AddressText(address, port)
                 : std::string();
    }
    void get_local_ip_and_port(std::string& ip, int& port) const override {
        sockaddr_storage address{};
        socklen_t length = sizeof address;
        ip = getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) == 0
                 ? AddressText(address, port)
                 : std::string();
    }
    socket_t socket() const override { return fd_; }

private:
    // Bytes sent but not yet acknowledged by the peer, or not yet sent.
    int QueuedBytes() const {
        int queued = 0;
        return ioctl(fd_, SIOCOUTQ, &queued) == 0 ? queued : -1;
    }

    // Waits until a write can go on. A peer that reads slowly keeps the socket
    // unwritable long after it took the last bytes (the kernel wakes a writer
    // only once a third of the send buffer is free), so progress is the send
    // queue shrinking: a reader that takes any bytes within ioTimeout is never cut.
    bool WaitToSend(short events) const {
        int queued = QueuedBytes();
        auto until = Clock::now() + limits_.ioTimeout;
        while (!stopping_) {
            auto now = Clock::now();
            if (now >= until) {
                return false;
            }
            Ready ready = PollOnce(events, std::min<Clock::duration>(until - now, kSlice));
            if (ready != Ready::kNotYet) {
                return ready == Ready::kYes;
            }
            int nowQueued = QueuedBytes();
            if (nowQueued < queued) {
                until = Clock::now() + limits_.ioTimeout;
            }
            queued = nowQueued;
        }
        return false;
    }

    enum class Ready { kYes, kNotYet, kFailed };

    // One poll of at most `slice`.
    Ready PollOnce(short events, Clock::duration slice) const {
        pollfd p{fd_, events, 0};
        int n = poll(
            &p, 1,
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(slice).count()) +
                1);
        if (n > 0) {
            return (p.revents & (POLLERR | POLLNVAL)) == 0 || (p.revents & events) != 0
                       ? Ready::kYes
                       : Ready::kFailed;
        }
        return n < 0 && errno != EINTR ? Ready::kFailed : Ready::kNotYet;
    }

    // The request deadline bounds every read; a stall also ends a read early.
    Clock::time_point ReadUntil() const {
        return std::min(deadline_, Clock::now() + limits_.ioTimeout);
    }

    ssize_t ReadTls(char* ptr, size_t size) {
        while (true) {
            if (Clock::now() >= deadline_ || stopping_) {
                return -1;
            }
            int n = SSL_read(ssl_, ptr, static_cast<int>(std::min<size_t>(size, 1 << 30)));
            if (n > 0) {
                return n;
            }
            int e = SSL_get_error(ssl_, n);
            if (e == SSL_ERROR_ZERO_RETURN) {
                return 0;
            }
            short events = e == SSL_ERROR_WANT_READ    ? POLLIN
                           : e == SSL_ERROR_WANT_WRITE ? POLLOUT
                                                       : 0;
            if (events == 0 || !Wait(events, ReadUntil())) {
                return -1;
            }
        }
    }

    // The library reads header lines a byte at a time; a small buffer saves a
    // system call per byte on plain connections.
    ssize_t ReadPlain(char* ptr, size_t size) {
        if (bufferedEnd_ == bufferedStart_) {
            while (true) {
                if (Clock::now() >= deadline_ || stopping_) {
                    return -1;
                }
                ssize_t n = recv(fd_, buffer_, sizeof buffer_, 0);
                if (n >= 0) {
                    bufferedStart_ = 0;
                    bufferedEnd_ = static_cast<size_t>(n);
                    if (n == 0) {
                        return 0;
                    }
                    break;
                }
                if (errno == EINTR) {
                    continue;
                }
                if ((errno != EAGAIN && errno != EWOULDBLOCK) || !Wait(POLLIN, ReadUntil())) {
                    return -1;
                }
            }
        }
        size_t n = std::min(size, bufferedEnd_ - bufferedStart_);
        std::copy_n(buffer_ + bufferedStart_, n, ptr);
        bufferedStart_ += n;
        return static_cast<ssize_t>(n);
    }

    int fd_;
    SSL* ssl_;
    const std::atomic<bool>& stopping_;
    const ConnectionLimits& limits_;
    Clock::time_point deadline_ = Clock::now();
    size_t headerBytes_ = 0;
    bool inHeaders_ = true;
    size_t bodyBytes_ = 0;
    size_t bodyBudget_ = 0;
    char buffer_[4096];
    size_t bufferedStart_ = 0;
    size_t bufferedEnd_ = 0;
};

thread_local ConnectionStream* currentStream = nullptr;

}  // namespace

GuardedServer::GuardedServer(SSL_CTX* tls, ConnectionLimits limits) : tls_(tls), limits_(limits) {
    new_task_queue = [] { return new ConnectionThreads; };
}

GuardedServer::~GuardedServer() {
    if (tls_ != nullptr) {
        SSL_CTX_free(tls_);
    }
}

SSL_CTX* GuardedServer::MakeTlsContext(const std::string& certificateFile,
                                       const std::string& keyFile) {
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    if (context == nullptr) {
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    SSL_CTX_set_options(context, SSL_OP_NO_COMPRESSION |
                                     SSL_OP_NO_SESSION_RESUMPTION_ON_RENEGOTIATION |
                                     SSL_OP_NO_RENEGOTIATION);
    SSL_CTX_set_mode(context, SSL_MODE_ENABLE_PARTIAL_WRITE | SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER |
                                  SSL_MODE_RELEASE_BUFFERS);
    if (SSL_CTX_use_certificate_chain_file(context, certificateFile.c_str()) != 1 ||
        SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_check_private_key(context) != 1) {
        ERR_clear_error();
        SSL_CTX_free(context);
        return nullptr;
    }
    return context;
}

void GuardedServer::WidenBacklog(int backlog) {
    socket_t sock = svr_sock_;
    if (sock != INVALID_SOCKET) {
        ::listen(sock, backlog);  // a second listen() only changes the backlog
    }
}

void GuardedServer::Shutdown() {
    stopping_ = true;
    stop();
}

bool GuardedServer::TakeAddressSlot(const std::string& key) {
    std::lock_guard lock(addressesMutex_);
    std::size_t& count = openPerAddress_[key];
    if (count >= limits_.maxConnectionsPerAddress) {
        if (count == 0) {
            openPerAddress_.erase(key);
        }
        return false;
    }
    ++count;
    return true;
}

void GuardedServer::ReleaseAddressSlot(const std::string& key) {
    std::lock_guard lock(addressesMutex_);
    auto it = openPerAddress_.find(key);
    if (it != openPerAddress_.end() && --it->second == 0) {
        openPerAddress_.erase(it);
    }
}

void GuardedServer::CloseAfterReply() {
    if (currentStream != nullptr) {
        currentStream->closeAfterReply = true;
    }
}

void GuardedServer::HeaderLinesRead(std::size_t bodyBudget) {
    if (currentStream != nullptr) {
        currentStream->EndHeaders(bodyBudget);
    }
}

bool GuardedServer::process_and_close_socket(socket_t sock) {
    struct OpenCount {
        explicit OpenCount(std::atomic<std::size_t>& c) : count(c), value(++c) {}
        ~OpenCount() { --count; }
        std::atomic<std::size_t>& count;
        std::size_t value;
    } open(open_);

    // A peer past its address's share is closed at once, so that one address
    // cannot hold every slot while others are refused.
    struct AddressSlot {
        AddressSlot(GuardedServer& s, int fd) : server(s) {
            if (server.limits_.maxConnectionsPerAddress == 0) {
                return;
            }
            key = AddressShareKey(fd);
            taken = key.empty() || server.TakeAddressSlot(key);
            counted = taken && !key.empty();
        }
        ~AddressSlot() {
            if (counted) {
                server.ReleaseAddressSlot(key);
            }
        }
        GuardedServer& server;
        std::string key;
        bool taken = true;
        bool counted = false;
    } slot(*this, sock);

    bool ok = false;
    if (open.value <= limits_.maxConnections && slot.taken && !stopping_ && !refuseOnThisThread) {
        fcntl(sock, F_SETFL, fcntl(sock, F_GETFL) | O_NONBLOCK);
        int yes = 1;
        setsockopt(sock, IPPROTO_TCP, TCP_NODELAY, &yes, sizeof yes);
        // Replies wait in the process, not in the kernel: a slow reader's socket
        // holds little beyond what is in flight, and writes go on as it reads.
        int unsentBytes = 128 * 1024;
        setsockopt(sock, IPPROTO_TCP, TCP_NOTSENT_LOWAT, &unsentBytes, sizeof unsentBytes);
        SSL* ssl = nullptr;
        if (tls_ != nullptr) {
            ssl = SSL_new(tls_);
            if (ssl != nullptr) {
                SSL_set_fd(ssl, sock);
            }
        }
        // The first request's deadline also covers the handshake.
        ConnectionStream stream(sock, ssl, stopping_, limits_);
        stream.BeginRequest();
        if (tls_ == nullptr || (ssl != nullptr && stream.Handshake())) {
            currentStream = &stream;
            for (int count = limits_.requestsPerConnection; count > 0 && !stopping_; --count) {
                if (count != limits_.requestsPerConnection) {
                    if (!stream.WaitForNextRequest()) {
                        break;
                    }
                    stream.BeginRequest();
                }
                bool closed = false;
                ok = process_request(stream, count == 1 || stopping_, closed,
                                     [](httplib::Request&) {});
                if (!ok || closed || stream.closeAfterReply) {
                    break;
                }
            }
            currentStream = nullptr;
        }
        if (ssl != nullptr) {
            if (ok && !stopping_) {
                SSL_shutdown(ssl);
            }
            SSL_free(ssl);
        }
        ERR_clear_error();
    }
    ::shutdown(sock, SHUT_RDWR);
    ::close(sock);
    return ok;
}

}  // namespace Tools
