// Measures the resident memory of the file checks over a release of 2 GiB (two
// sparse files of 1 GiB): the peak must stay near the start value whatever the size.
// Usage: VerifyMemoryBenchmark [folder]   (default: the current folder)
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "DownloadSystem/DownloadManager.h"
#include "Support/StringUtils.h"

namespace {

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::path(argc > 1 ? argv[1] : ".") / "verify-benchmark";
    fs::create_directories(folder);
    constexpr std::uintmax_t FileSize = 1ull << 30;
    std::vector<fs::path> files;
    for (const char* name : {"Data-1a.bin", "Data-2b.bin"}) {
        const fs::path path = folder / name;
        std::ofstream(path, std::ios::binary).put('x');
        fs::resize_file(path, FileSize);
        files.push_back(path);
    }

    const long before = PeakResidentKiB();
    const auto start = std::chrono::steady_clock::now();
    for (const fs::path& path : files) {
        DownloadSystem::DownloadManager::CRCCheckFile(vesk::StringUtils::ToWide(path.string()), 0);
    }
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long after = PeakResidentKiB();
    fs::remove_all(folder);

    std::printf(
        "checked 2 GiB in %.1f s; peak resident memory %ld KiB before, %ld KiB after "
        "(+%ld KiB)\n",
        seconds, before, after, after - before);
    return 0;
}
