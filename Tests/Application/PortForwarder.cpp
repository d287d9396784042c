// TCP forwarding for window tests: one thread accepts, one thread per connection copies
// bytes both ways until either side closes or the forwarder stops.
#include "PortForwarder.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace vesk::test {

namespace {

int Connect(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// Copies what is readable on `from` to `to`; false when `from` closed or a write failed.
bool Copy(int from, int to) {
    char buffer[16384];
    const ssize_t got = ::read(from, buffer, sizeof(buffer));
    if (got <= 0) {
        return false;
    }
    for (ssize_t sent = 0; sent < got;) {
        const ssize_t wrote =
            ::send(to, buffer + sent, static_cast<std::size_t>(got - sent), MSG_NOSIGNAL);
        if (wrote <= 0) {
            return false;
        }
        sent += wrote;
    }
    return true;
}

}  // namespace

PortForwarder::~PortForwarder() {
    Stop();
}

bool PortForwarder::Start(std::uint16_t port, std::uint16_t target,
                          std::chrono::milliseconds wait) {
    const std::string lockPath = "/tmp/sorvan-test-port-" + std::to_string(port) + ".lock";
    lockFd_ = ::open(lockPath.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0666);
    if (lockFd_ < 0) {
        return false;
    }
    const auto deadline = std::chrono::steady_clock::now() + wait;
    while (::flock(lockFd_, LOCK_EX | LOCK_NB) != 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            Stop();
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    listener_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int yes = 1;
    ::setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (listener_ < 0 ||
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::listen(listener_, 64) != 0 || ::pipe2(wake_, O_CLOEXEC) != 0) {
        Stop();
        return false;
    }
    target_ = target;
    stopping_ = false;
    acceptThread_ = std::thread([this] { Accept(); });
    return true;
}

void PortForwarder::Stop() {
    stopping_ = true;
    if (wake_[1] >= 0) {
        const char byte = 0;
        (void)!::write(wake_[1], &byte, 1);
    }
    if (acceptThread_.joinable()) {
        acceptThread_.join();
    }
    for (std::thread& pipe : pipes_) {
        pipe.join();
    }
    pipes_.clear();
    for (int* fd : {&listener_, &wake_[0], &wake_[1], &lockFd_}) {
        if (*fd >= 0) {
            ::close(*fd);  // closing the lock file releases the lock
            *fd = -1;
        }
    }
}

void PortForwarder::Accept() {
    while (!stopping_) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 || (fds[1].revents & POLLIN) != 0) {
            return;
        }
        if ((fds[0].revents & POLLIN) != 0) {
            const int client = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
            if (client >= 0) {
                pipes_.emplace_back([this, client] { Pipe(client); });
            }
        }
    }
}

void PortForwarder::Pipe(int client) {
    const int server = Connect(target_);
    while (server >= 0 && !stopping_) {
        pollfd fds[3] = {{client, POLLIN, 0}, {server, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (::poll(fds, 3, -1) < 0 || (fds[2].revents & POLLIN) != 0) {
            break;
        }
        if ((fds[0].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !Copy(client, server)) {
            break;
        }
        if ((fds[1].revents & (POLLIN | POLLHUP | POLLERR)) != 0 && !Copy(server, client)) {
            break;
        }
    }
    if (server >= 0) {
        ::close(server);
    }
    ::close(client);
}

}  // namespace vesk::test
