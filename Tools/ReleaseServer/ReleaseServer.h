// The reference release server: one HTTPS server holding the download-service
// endpoint (manifests, log reports) and the content (file lists, release files,
// interface description and images) of a content root folder.
#pragma once

#include <atomic>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "GuardedServer.h"
#include "LogReportStore.h"
#include "MemoryBudget.h"

namespace Tools {

class ReleaseCatalog;
class ContentAccess;

// Path of the download-service endpoint; the "Method" header picks the operation.
inline constexpr const char* kServiceEndpoint = "/Sorvan/DownloadManager8.ashx";

struct ServerOptions {
    std::string address = "127.0.0.1";
    int port = 8443;  // 0 picks a free port
    std::filesystem::path certificateFile;
    std::filesystem::path privateKeyFile;
    std::filesystem::path contentRoot;
    std::filesystem::path reportsFolder;
    std::string signedStorageMarker;
    // Plain HTTP instead of TLS, for a front server on the same machine; only
    // loopback addresses are accepted then, and the front's X-Real-IP header
    // names the client.
    bool behindFront = false;
    // The address the front connects from; X-Real-IP is taken from it alone.
    std::string frontAddress = "127.0.0.1";
    std::size_t maxReportBytes = 8u << 20;  // posted body, however it is framed
    ReportStoreLimits reports;              // decoding limits, quota, rate per sender
    // Memory the reports being read and decoded at once may take; a report
    // that finds too little free waits for it (503 after reportsWait).
    std::size_t reportsInFlightBytes = 256u << 20;
    std::chrono::milliseconds reportsWait{10000};
    ConnectionLimits connections;
    // Content replies keep to this many bytes per second each (0: as fast as
    // the reader takes them), for demonstrations that must be watched.
    std::size_t paceBytesPerSecond = 0;
    // Receives start-up notes and one line per request; may be empty.
    std::function<void(const std::string&)> log;
};

class ReleaseServer {
public:
    explicit ReleaseServer(ServerOptions options);
    ~ReleaseServer();
    ReleaseServer(const ReleaseServer&) = delete;
    ReleaseServer& operator=(const ReleaseServer&) = delete;

    // Checks the options, loads the certificate, binds and starts serving on a
    // thread of its own. False with `error` set when any of it fails.
    bool Start(std::string& error);

    // The bound port (useful with port 0); 0 before Start.
    int Port() const { return port_; }

    // Stops accepting, ends every open connection (within about 100 ms, even
    // mid-request) and joins the thread. Safe to call at any moment.
    void Stop();

    // One line describing where the server listens and what it serves.
    std::string Describe() const;

private:
    void Log(const std::string& line) const;
    void InstallRoutes();
    void HandleReport(const httplib::Request& req, httplib::Response& res,
                      const httplib::ContentReader& reader);
    std::string ClientAddress(const httplib::Request& req) const;

    ServerOptions options_;
    std::unique_ptr<ReleaseCatalog> catalog_;
    std::unique_ptr<ContentAccess> content_;
    std::unique_ptr<LogReportStore> reports_;
    std::unique_ptr<MemoryBudget> reportMemory_;
    std::atomic<bool> stopping_{false};
    std::unique_ptr<GuardedServer> server_;
    std::thread thread_;
    std::atomic<bool> listenEnded_{false};
    int port_ = 0;
};

}  // namespace Tools
