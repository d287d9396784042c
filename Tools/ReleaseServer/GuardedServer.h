// The HTTP(S) connection layer of the release server, on cpp-httplib's request
// parsing and routing. The library reads each socket with a time-out per read and
// serves connections from a fixed pool of workers, so a few idle or trickling
// clients could hold every worker. This layer owns the connections instead:
//   - each connection gets its own thread, up to a cap; beyond it new
//     connections are closed at once;
//   - a request (TLS handshake, header lines and body) must arrive whole before
//     a deadline, and header lines have a byte budget;
//   - every wait is cut into short slices that check a stop flag, so Shutdown()
//     ends all connections within about 100 ms, whatever they are doing.
// Handlers run on the connection's thread; the static calls below act on the
// request that thread is serving.
#pragma once

#include <openssl/ssl.h>

#include <httplib.h>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace Tools {

struct ConnectionLimits {
    std::chrono::milliseconds requestDeadline{20000};  // handshake + headers + body
    std::chrono::milliseconds ioTimeout{15000};        // any read or write that makes no progress
    std::chrono::milliseconds keepAlive{5000};         // idle wait for the next request
    int requestsPerConnection = 100;
    std::size_t maxHeaderBytes = 32 * 1024;
    std::size_t maxConnections = 2048;
    // Open connections from one address (IPv6: one /64); 0 for no cap, as behind
    // a front server, whose connections all come from one address.
    std::size_t maxConnectionsPerAddress = 32;
};

class GuardedServer : public httplib::Server {
public:
    // `tls` (owned; may be null for plain HTTP) is the server's TLS context.
    GuardedServer(SSL_CTX* tls, ConnectionLimits limits);
    ~GuardedServer() override;

    // Builds a TLS context from a PEM certificate chain and key; null on failure.
    static SSL_CTX* MakeTlsContext(const std::string& certificateFile, const std::string& keyFile);

    // Raises the listening backlog the library sets (it is tiny) once bound.
    void WidenBacklog(int backlog);

    // Stops accepting and ends every open connection promptly.
    void Shutdown();

    std::size_t OpenConnections() const { return open_.load(); }

    // For handlers: the connection ends after the current reply (its unread
    // body, if any, is left unread).
    static void CloseAfterReply();
    // For the pre-routing handler: the header lines are read; from here on only
    // the body is read, under the same deadline, and at most `bodyBudget` bytes
    // of it as sent (chunk framing included): a read past that fails.
    static void HeaderLinesRead(std::size_t bodyBudget);

private:
    bool process_and_close_socket(socket_t sock) override;
    // Counts a connection against its address's share; false when it is taken.
    bool TakeAddressSlot(const std::string& key);
    void ReleaseAddressSlot(const std::string& key);

    SSL_CTX* tls_;
    ConnectionLimits limits_;
    std::atomic<bool> stopping_{false};
    std::atomic<std::size_t> open_{0};
    std::mutex addressesMutex_;
    std::map<std::string, std::size_t> openPerAddress_;
};

}  // namespace Tools
