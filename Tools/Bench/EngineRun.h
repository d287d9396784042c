// One whole engine job without a window: the manifest request, then every pass of
// the download manager until it ends (setup started, or failed), through the same
// facade the interface drives.
#pragma once

#include <string>

namespace Bench {

struct EngineRunOptions {
    std::string programPath;    // the program's would-be path: names the release and the folder
    std::string serviceHost;    // "host:port" of the download service
    std::string appDataFolder;  // local application data (the work folder goes inside)
};

struct EngineRunResult {
    bool manifestOk = false;
    bool finished = false;
    double manifestSeconds = 0;
    double totalSeconds = 0;
    std::string errors;  // the engine's error list, one entry per line
};

EngineRunResult RunEngine(const EngineRunOptions& options, double timeoutSeconds);

}  // namespace Bench
