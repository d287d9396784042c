// engine-bench: the program scripts/bench drives.
//
//   engine-bench engine PROGRAM_PATH SERVICE_HOST APPDATA [TIMEOUT_S]
//       runs the whole engine job headless; prints "manifest_s total_s" and the
//       engine's error list; exit 0 when the job ended in time (setup started or not:
//       the caller checks that)
//   engine-bench measure LOG -- COMMAND...
//       runs COMMAND, its output appended to LOG, and prints
//       "wall_s cpu_s peak_rss_kib exit_status"
//   engine-bench list FOLDER LIST_FILE
//       writes the file list of every file in FOLDER
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ChildUsage.h"
#include "EngineRun.h"
#include "ListWriter.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: engine-bench engine PROGRAM_PATH SERVICE_HOST APPDATA [TIMEOUT_S]\n"
                 "       engine-bench measure LOG -- COMMAND...\n"
                 "       engine-bench list FOLDER LIST_FILE\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2)
        return Usage();
    const std::string mode = argv[1];
    if (mode == "engine" && (argc == 5 || argc == 6)) {
        const double timeout = argc == 6 ? std::strtod(argv[5], nullptr) : 600.0;
        const Bench::EngineRunResult result =
            Bench::RunEngine({argv[2], argv[3], argv[4]}, timeout);
        std::printf("%.3f %.3f\n", result.manifestSeconds, result.totalSeconds);
        if (!result.errors.empty())
            std::fprintf(stderr, "engine error list:\n%s", result.errors.c_str());
        if (!result.manifestOk)
            std::fprintf(stderr, "engine-bench: the manifest request failed\n");
        else if (!result.finished)
            std::fprintf(stderr, "engine-bench: the job did not end within %.0f s\n", timeout);
        return result.manifestOk && result.finished ? 0 : 1;
    }
    if (mode == "measure" && argc >= 5 && std::strcmp(argv[3], "--") == 0) {
        const Bench::ChildUsage usage =
            Bench::RunAndMeasure(std::vector<std::string>(argv + 4, argv + argc), argv[2]);
        std::printf("%.3f %.3f %ld %d\n", usage.wallSeconds, usage.cpuSeconds,
                    usage.peakResidentKiB, usage.exitStatus);
        return usage.exitStatus < 0 ? 1 : 0;
    }
    if (mode == "list" && argc == 4) {
        std::string error;
        if (!Bench::WriteFileList(argv[2], argv[3], error)) {
            std::fprintf(stderr, "engine-bench: %s\n", error.c_str());
            return 1;
        }
        return 0;
    }
    return Usage();
}
