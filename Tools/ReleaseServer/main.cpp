// release-server: command line around ReleaseServer; runs until SIGINT or SIGTERM.
#include <signal.h>
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <mutex>
#include <string>

#include "ClientConfiguration.h"
#include "ReleaseServer.h"

namespace {

// The port of the compiled-in service host ("name:port"), 443 without one.
int DefaultPort() {
    std::string host = Tools::DefaultServiceHost();
    size_t colon = host.rfind(':');
    return colon == std::string::npos ? 443 : std::atoi(host.c_str() + colon + 1);
}

void PrintUsage(const Tools::ServerOptions& defaults) {
    std::fprintf(
        stderr,
        "usage: release-server --cert FILE --key FILE --content-root DIR [--reports DIR]\n"
        "                      [--address ADDR] [--port N] [--marker LABEL]\n"
        "                      [--max-report-bytes N] [--behind-front [--front-address ADDR]]\n"
        "                      [--max-connections N] [--max-connections-per-address N]\n"
        "                      [--request-deadline SECONDS]\n"
        "                      [--reports-max-mib N] [--reports-max-files N]\n"
        "                      [--reports-per-client N] [--reports-in-flight-mib N]\n"
        "                      [--pace-kib-per-second N]\n"
        "\n"
        "Serves the download-service endpoint %s and the files of DIR over HTTPS.\n"
        "  --address ADDR   default %s\n"
        "  --port N         default %d (0 picks a free port)\n"
        "  --reports DIR    where log reports are stored (default DIR/../reports)\n"
        "  --marker LABEL   signed-storage marker (default \"%s\", as compiled into the "
        "client)\n"
        "  --behind-front   plain HTTP on a loopback address for a front server on this\n"
        "                   machine (Tools/nginx/make-nginx-config --service ...)\n"
        "  --front-address ADDR  the address the front connects from (default 127.0.0.1);\n"
        "                   its X-Real-IP names the client, nobody else's does\n"
        "  --max-connections-per-address N  open connections one address (IPv6: /64)\n"
        "                   may hold, standalone only (default 32, 0 for no cap)\n"
        "  --reports-per-client N  reports one address may send at once; one more\n"
        "                   each 6 s after that\n"
        "  --reports-in-flight-mib N  memory the reports read and decoded at once may\n"
        "                   take (default 256); others wait for it, 503 after 10 s\n"
        "  --pace-kib-per-second N  each content reply keeps to N KiB/s, so that a\n"
        "                   demonstration can be watched (default: no pace)\n",
        Tools::kServiceEndpoint, defaults.address.c_str(), defaults.port,
        defaults.signedStorageMarker.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    Tools::ServerOptions options;
    options.port = DefaultPort();
    options.signedStorageMarker = Tools::DefaultSignedStorageMarker();
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage(options);
            return 0;
        }
        if (arg == "--behind-front") {
            options.behindFront = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "release-server: %s needs a value\n", arg.c_str());
            return 2;
        }
        std::string value = argv[++i];
        if (arg == "--cert") {
            options.certificateFile = value;
        } else if (arg == "--key") {
            options.privateKeyFile = value;
        } else if (arg == "--content-root") {
            options.contentRoot = value;
        } else if (arg == "--reports") {
            options.reportsFolder = value;
        } else if (arg == "--address") {
            options.address = value;
        } else if (arg == "--port") {
            options.port = std::atoi(value.c_str());
        } else if (arg == "--front-address") {
            options.frontAddress = value;
        } else if (arg == "--marker") {
            options.signedStorageMarker = value;
        } else if (arg == "--max-report-bytes") {
            options.maxReportBytes = std::strtoull(value.c_str(), nullptr, 10);
        } else if (arg == "--max-connections") {
            options.connections.maxConnections = std::strtoull(value.c_str(), nullptr, 10);
        } else if (arg == "--max-connections-per-address") {
            options.connections.maxConnectionsPerAddress =
                std::strtoull(value.c_str(), nullptr, 10);
        } else if (arg == "--request-deadline") {
            options.connections.requestDeadline =
                std::chrono::seconds(std::strtoull(value.c_str(), nullptr, 10));
        } else if (arg == "--reports-max-mib") {
            options.reports.maxFolderBytes = std::strtoull(value.c_str(), nullptr, 10) << 20;
        } else if (arg == "--reports-max-files") {
            options.reports.maxFolderFiles = std::strtoull(value.c_str(), nullptr, 10);
        } else if (arg == "--pace-kib-per-second") {
            options.paceBytesPerSecond = std::strtoull(value.c_str(), nullptr, 10) * 1024;
        } else if (arg == "--reports-in-flight-mib") {
            options.reportsInFlightBytes = std::strtoull(value.c_str(), nullptr, 10) << 20;
        } else if (arg == "--reports-per-client") {
            options.reports.burst = std::atoi(value.c_str());
        } else {
            std::fprintf(stderr, "release-server: unknown option %s\n", arg.c_str());
            PrintUsage(options);
            return 2;
        }
    }
    if ((!options.behindFront &&
         (options.certificateFile.empty() || options.privateKeyFile.empty())) ||
        options.contentRoot.empty()) {
        PrintUsage(options);
        return 2;
    }
    if (options.reportsFolder.empty()) {
        options.reportsFolder = options.contentRoot.parent_path() / "reports";
    }
    std::mutex logMutex;
    options.log = [&logMutex](const std::string& line) {
        std::lock_guard lock(logMutex);
        std::printf("%s\n", line.c_str());
        std::fflush(stdout);
    };

    // Block the stop signals before any thread starts, so only sigwait sees them.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    // One descriptor per connection: take all the process may have.
    rlimit files{};
    if (getrlimit(RLIMIT_NOFILE, &files) == 0 && files.rlim_cur < files.rlim_max) {
        files.rlim_cur = files.rlim_max;
        setrlimit(RLIMIT_NOFILE, &files);
    }

    Tools::ReleaseServer server(options);
    std::string error;
    if (!server.Start(error)) {
        std::fprintf(stderr, "release-server: %s\n", error.c_str());
        return 1;
    }
    options.log("release-server: " + server.Describe());

    int received = 0;
    sigwait(&stopSignals, &received);
    options.log(std::string("release-server: ") + (received == SIGINT ? "SIGINT" : "SIGTERM") +
                ", stopping");
    server.Stop();
    options.log("release-server: stopped");
    return 0;
}
