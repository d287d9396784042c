// Forwards TCP connections from a fixed port on 127.0.0.1 to another local port. The program
// under test reaches its compiled-in service and interface host (localhost:8443); the
// forwarder hands those connections to an in-process test server on its ephemeral port.
// TLS passes through untouched. A lock file serialises users of the same fixed port across
// test processes, so window tests may run in parallel with each other.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

namespace vesk::test {

class PortForwarder {
public:
    PortForwarder() = default;
    ~PortForwarder();
    PortForwarder(const PortForwarder&) = delete;
    PortForwarder& operator=(const PortForwarder&) = delete;

    // Takes the port's lock (waiting up to `wait`), listens on 127.0.0.1:`port` and forwards
    // every connection to 127.0.0.1:`target`. False when the lock or the port is not had.
    bool Start(std::uint16_t port, std::uint16_t target,
               std::chrono::milliseconds wait = std::chrono::seconds(240));
    // Closes the listener and every forwarded connection, joins the threads, frees the lock.
    void Stop();

private:
    void Accept();
    void Pipe(int client);

    int lockFd_ = -1;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    std::uint16_t target_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptThread_;
    std::vector<std::thread> pipes_;
};

}  // namespace vesk::test
