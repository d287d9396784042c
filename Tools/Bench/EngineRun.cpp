// The engine job through DownloadCore, timed from the manifest request to the end of
// the manager's thread (which starts setup as its last act).
#include "EngineRun.h"

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "DownloadSystem/DownloadCore.h"
#include "DownloadSystem/Endpoints.h"
#include "DownloadSystem/PublisherKeys.h"
#include "Platform/Paths.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace Bench {

namespace {

// Short enough not to add to a job of many small files, long enough to cost nothing.
constexpr auto FinishPoll = std::chrono::milliseconds(2);

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

EngineRunResult RunEngine(const EngineRunOptions& options, double timeoutSeconds) {
    using vesk::StringUtils;
    Platform::Paths::OverrideExecutablePath(StringUtils::ToWide(options.programPath));
    Platform::Paths::OverrideLocalAppDataFolder(StringUtils::ToWide(options.appDataFolder));
    DownloadSystem::Endpoints::OverrideServiceHost(StringUtils::ToWide(options.serviceHost));
    // A signed release (scripts/bench --signed): checked as under a compiled-in key.
    if (const char* key = std::getenv("SORVAN_BENCH_PUBLISHER_KEY"); key != nullptr && *key != 0)
        DownloadSystem::PublisherKeys::OverridePublisherKeys(std::vector<std::string>{key});

    EngineRunResult result;
    const auto start = std::chrono::steady_clock::now();
    {
        DownloadSystem::DownloadCore core;
        std::u16string errorText;
        result.manifestOk = core.RequestDownload(errorText);
        result.manifestSeconds = SecondsSince(start);
        if (result.manifestOk) {
            core.StartDownload();
            while (!core.IsFinished() && SecondsSince(start) < timeoutSeconds)
                std::this_thread::sleep_for(FinishPoll);
            result.finished = core.IsFinished();
        }
        result.totalSeconds = SecondsSince(start);
    }
    for (const std::string& message : vesk::GetErrorMessages())
        result.errors += message + "\n";
    return result;
}

}  // namespace Bench
