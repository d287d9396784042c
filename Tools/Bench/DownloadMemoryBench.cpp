// Benchmark, not a unit test: downloads a large generated file from the in-process HTTPS
// server to disk and prints the process's peak resident memory before and after, to show that
// a to-file download (with its CRC check) does not grow with the file.
//
//     DownloadMemoryBench [size in MiB, default 1024]
#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "DownloadSystem/CRC.h"
#include "DownloadSystem/FileDownload.h"
#include "PatternCrc.h"
#include "Servers/HttpsServer.h"
#include "Support/StringUtils.h"

namespace {

using DownloadSystem::Testing::PatternCrc;

long PeakResidentKiB() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t mebibytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::uint64_t size = mebibytes << 20;
    const auto folder = std::filesystem::temp_directory_path() / "sorvan-download-bench";
    std::filesystem::create_directories(folder);
    const auto target = folder / "large.bin";

    TestServers::HttpsServer server;
    server.SetReply("/large.bin", TestServers::Reply::Pattern(size));
    const std::uint32_t expected = PatternCrc(size);

    const long before = PeakResidentKiB();
    const auto start = std::chrono::steady_clock::now();
    DownloadSystem::FileDownload worker;
    worker.SetServer(vesk::StringUtils::ToWide(server.Address()));
    worker.SetRemotePath(u"/large.bin");
    worker.SetExpectedCrc(expected);
    worker.StartToFile(vesk::StringUtils::ToWide(target.string()));
    worker.Wait(vesk::Tavrin_Thread::Infinite);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const long after = PeakResidentKiB();

    const std::uint64_t onDisk = std::filesystem::file_size(target);
    std::uint32_t found = 0;
    DownloadSystem::CRC().ComputeFile(vesk::StringUtils::ToWide(target.string()), found);
    std::filesystem::remove_all(folder);

    std::printf("downloaded %llu bytes in %.1f s (%.0f MiB/s), CRC %s\n",
                static_cast<unsigned long long>(onDisk), seconds,
                static_cast<double>(onDisk) / (1 << 20) / seconds,
                found == expected && onDisk == size ? "matches" : "DOES NOT MATCH");
    std::printf("peak RSS before: %ld KiB, after: %ld KiB, growth: %ld KiB\n", before, after,
                after - before);
    return found == expected && onDisk == size ? 0 : 1;
}
