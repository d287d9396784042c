// The test CONNECT proxy: one thread per client, a poll loop that relays both ways.
#include "Servers/ConnectProxy.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace TestServers {
namespace {

constexpr std::size_t kHeadLimit = 8192;

int ListenOnLoopback(std::uint16_t& port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 64) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(fd);
        return -1;
    }
    port = ntohs(address.sin_port);
    return fd;
}

// "127.0.0.1:port" or "localhost:port" only: a test must never reach past loopback.
int ConnectToLoopback(std::string_view target) {
    std::size_t colon = target.rfind(':');
    if (colon == std::string_view::npos)
        return -1;
    std::string_view host = target.substr(0, colon);
    if (host != "127.0.0.1" && host != "localhost")
        return -1;
    int port = 0;
    for (char c : target.substr(colon + 1)) {
        if (c < '0' || c > '9' || port > 65535)
            return -1;
        port = port * 10 + (c - '0');
    }
    if (port == 0 || port > 65535)
        return -1;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<std::uint16_t>(port));
    if (fd >= 0 && ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        ::close(fd);
        fd = -1;
    }
    return fd;
}

bool SendAll(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        ssize_t sent = ::send(fd, data, size, MSG_NOSIGNAL);
        if (sent <= 0)
            return false;
        data += sent;
        size -= static_cast<std::size_t>(sent);
    }
    return true;
}

}  // namespace

ConnectProxy::ConnectProxy() {
    std::signal(SIGPIPE, SIG_IGN);
    if (::pipe2(wake_, O_CLOEXEC) != 0)
        return;
    listener_ = ListenOnLoopback(port_);
    if (listener_ >= 0)
        listenThread_ = std::thread([this] { Listen(); });
}

ConnectProxy::~ConnectProxy() {
    Stop();
    for (int fd : {listener_, wake_[0], wake_[1]})
        if (fd >= 0)
            ::close(fd);
}

std::string ConnectProxy::Url() const {
    return "http://127.0.0.1:" + std::to_string(port_);
}

std::vector<std::string> ConnectProxy::Targets() const {
    std::lock_guard lock(mutex_);
    return targets_;
}

void ConnectProxy::Stop() {
    if (stopping_.exchange(true))
        return;
    if (wake_[1] >= 0) {
        char byte = 0;
        [[maybe_unused]] ssize_t ignored = ::write(wake_[1], &byte, 1);
    }
    if (listenThread_.joinable())
        listenThread_.join();
    std::vector<std::thread> tunnels;
    {
        std::lock_guard lock(mutex_);
        tunnels.swap(tunnels_);
    }
    for (std::thread& tunnel : tunnels)
        tunnel.join();
}

void ConnectProxy::Listen() {
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0)
            return;
        int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (client < 0)
            continue;
        std::lock_guard lock(mutex_);
        tunnels_.emplace_back([this, client] { Tunnel(client); });
    }
}

void ConnectProxy::Tunnel(int client) {
    // The request head, up to its blank line; whatever follows it is already the client's
    // side of the tunnel.
    std::string head;
    std::size_t end = std::string::npos;
    char buffer[65536];
    while (end == std::string::npos && head.size() < kHeadLimit) {
        pollfd fds[2] = {{client, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0) {
            ::close(client);
            return;
        }
        ssize_t got = ::recv(client, buffer, sizeof buffer, 0);
        if (got <= 0) {
            ::close(client);
            return;
        }
        head.append(buffer, static_cast<std::size_t>(got));
        end = head.find("\r\n\r\n");
    }
    std::string_view line(head.data(), end == std::string::npos ? 0 : head.find("\r\n"));
    int server = -1;
    if (line.starts_with("CONNECT ")) {
        std::string_view target = line.substr(8, line.find(' ', 8) - 8);
        {
            std::lock_guard lock(mutex_);
            targets_.emplace_back(target);
        }
        server = ConnectToLoopback(target);
    }
    if (server < 0) {
        const std::string_view refusal = "HTTP/1.1 403 Forbidden\r\nContent-Length: 0\r\n\r\n";
        SendAll(client, refusal.data(), refusal.size());
        ::close(client);
        return;
    }
    const std::string_view established = "HTTP/1.1 200 Connection established\r\n\r\n";
    bool open = SendAll(client, established.data(), established.size());
    if (open && end != std::string::npos && head.size() > end + 4)
        open = SendAll(server, head.data() + end + 4, head.size() - end - 4);
    // Relays until either side hangs up; the hang-up is passed on as a half close, so a
    // reply read to its end still arrives whole.
    bool clientOpen = open;
    bool serverOpen = open;
    while (clientOpen || serverOpen) {
        pollfd fds[3] = {{client, static_cast<short>(clientOpen ? POLLIN : 0), 0},
                         {server, static_cast<short>(serverOpen ? POLLIN : 0), 0},
                         {wake_[0], POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 || (fds[2].revents & POLLIN) != 0)
            break;
        for (int side = 0; side < 2; ++side) {
            if (fds[side].revents == 0)
                continue;
            int from = side == 0 ? client : server;
            int to = side == 0 ? server : client;
            bool& fromOpen = side == 0 ? clientOpen : serverOpen;
            ssize_t got = ::recv(from, buffer, sizeof buffer, 0);
            if (got <= 0) {
                fromOpen = false;
                ::shutdown(to, SHUT_WR);
            } else if (!SendAll(to, buffer, static_cast<std::size_t>(got))) {
                clientOpen = serverOpen = false;
            }
        }
    }
    ::close(server);
    ::close(client);
}

ProxyVariables::ProxyVariables(const std::string& url, const std::string& noProxy) {
    auto set = [this](const char* name, const std::string& value) {
        const char* old = ::getenv(name);
        saved_.emplace_back(name, old != nullptr ? std::optional<std::string>(old) : std::nullopt);
        if (value.empty())
            ::unsetenv(name);
        else
            ::setenv(name, value.c_str(), 1);
    };
    for (const char* name : {"https_proxy", "HTTPS_PROXY", "http_proxy"})
        set(name, url);
    for (const char* name : {"no_proxy", "NO_PROXY"})
        set(name, noProxy);
}

ProxyVariables::~ProxyVariables() {
    for (const auto& [name, value] : saved_) {
        if (value)
            ::setenv(name.c_str(), value->c_str(), 1);
        else
            ::unsetenv(name.c_str());
    }
}

}  // namespace TestServers
