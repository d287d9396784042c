// UnusedLoopbackPort: random picks in 20000-32000 until one binds.
#include "Servers/FreePort.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <random>

namespace TestServers {

namespace {

bool CanBind(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return false;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

}  // namespace

std::uint16_t UnusedLoopbackPort() {
    std::mt19937 random(std::random_device{}());
    std::uniform_int_distribution<int> pick(20000, 32000);
    for (int attempt = 0; attempt < 200; ++attempt) {
        const auto port = static_cast<std::uint16_t>(pick(random));
        if (CanBind(port)) {
            return port;
        }
    }
    return 0;
}

}  // namespace TestServers
