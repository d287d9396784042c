// A CONNECT proxy on 127.0.0.1 for tests, as a company proxy in front of the service:
// it answers "CONNECT host:port" with "200 Connection established" and then relays bytes
// both ways without looking at them (the TLS session runs end to end through it).
//
//     TestServers::ConnectProxy proxy;
//     TestServers::ProxyVariables variables(proxy.Url());
//     ... client fetches https://127.0.0.1:<server port>/... ...
//     EXPECT_EQ(proxy.Targets().size(), 1u);
//
// Only loopback targets are relayed; anything else is answered 403. The destructor (or
// Stop) cuts every tunnel and joins every thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace TestServers {

class ConnectProxy {
public:
    ConnectProxy();
    ~ConnectProxy();
    ConnectProxy(const ConnectProxy&) = delete;
    ConnectProxy& operator=(const ConnectProxy&) = delete;

    // 0 when the proxy could not start.
    std::uint16_t Port() const { return port_; }
    std::string Url() const;  // "http://127.0.0.1:port", the form the proxy variables take

    // The "host:port" of every CONNECT received, in order.
    std::vector<std::string> Targets() const;

    void Stop();

private:
    void Listen();
    void Tunnel(int client);
    bool Stopping() const { return stopping_.load(); }

    int listener_ = -1;
    int wake_[2] = {-1, -1};  // written once by Stop: every poll below wakes on it
    std::uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread listenThread_;
    mutable std::mutex mutex_;
    std::vector<std::thread> tunnels_;
    std::vector<std::string> targets_;
};

// Points the proxy variables a user would set (https_proxy, HTTPS_PROXY, http_proxy) at
// `url` and sets no_proxy/NO_PROXY to `noProxy` (unset when empty) for the object's life;
// the old values come back afterwards.
class ProxyVariables {
public:
    explicit ProxyVariables(const std::string& url, const std::string& noProxy = "");
    ~ProxyVariables();
    ProxyVariables(const ProxyVariables&) = delete;
    ProxyVariables& operator=(const ProxyVariables&) = delete;

private:
    std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

}  // namespace TestServers
