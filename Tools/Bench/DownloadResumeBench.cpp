// Benchmark, not a unit test: what a connection cut at 90% of a large file costs. The
// in-process HTTPS server cuts the first transfer after 90% of the body; the worker's next
// attempt goes on from there. The same run is repeated with a server that ignores byte
// ranges, which makes the worker fetch the whole file again.
//
//     DownloadResumeBench [size in MiB, default 1024]
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

// Body bytes the server sent for one request: the cut, a range to the end, or the whole.
std::uint64_t BytesServed(const TestServers::RecordedRequest& request, bool first,
                          bool rangesHonoured, std::uint64_t size, std::uint64_t cutAt) {
    if (first)
        return cutAt;
    const std::string range = request.Header("Range");
    if (rangesHonoured && range.rfind("bytes=", 0) == 0)
        return size - std::strtoull(range.c_str() + 6, nullptr, 10);
    return size;
}

bool RunOnce(std::uint64_t size, std::uint32_t expected, bool rangesHonoured,
             const std::filesystem::path& target) {
    const std::uint64_t cutAt = size / 10 * 9;
    TestServers::HttpsServer server;
    TestServers::Reply cut = TestServers::Reply::Pattern(size);
    cut.dropAfter = cutAt;
    TestServers::Reply rest = TestServers::Reply::Pattern(size);
    rest.ranges = rangesHonoured;
    server.SetReplies("/large.bin", {cut, rest});

    const auto start = std::chrono::steady_clock::now();
    DownloadSystem::FileDownload worker;
    worker.SetServer(vesk::StringUtils::ToWide(server.Address()));
    worker.SetRemotePath(u"/large.bin");
    worker.SetExpectedCrc(expected);
    worker.StartToFile(vesk::StringUtils::ToWide(target.string()));
    worker.Wait(vesk::Tavrin_Thread::Infinite);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();

    const auto requests = server.RequestsTo("/large.bin");
    std::uint64_t served = 0;
    for (std::size_t i = 0; i < requests.size(); ++i)
        served += BytesServed(requests[i], i == 0, rangesHonoured, size, cutAt);
    std::uint32_t found = 0;
    DownloadSystem::CRC().ComputeFile(vesk::StringUtils::ToWide(target.string()), found);
    const bool good = found == expected && std::filesystem::file_size(target) == size;
    std::printf("%-22s %zu requests, %.0f MiB served, %.0f MiB after the cut, %.1f s, CRC %s\n",
                rangesHonoured ? "server with ranges:" : "server without ranges:", requests.size(),
                static_cast<double>(served) / (1 << 20),
                static_cast<double>(served - cutAt) / (1 << 20), seconds,
                good ? "matches" : "DOES NOT MATCH");
    std::filesystem::remove(target);
    return good;
}

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t mebibytes = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1024;
    const std::uint64_t size = mebibytes << 20;
    const auto folder = std::filesystem::temp_directory_path() / "sorvan-resume-bench";
    std::filesystem::create_directories(folder);
    const std::uint32_t expected = PatternCrc(size);
    std::printf("%llu MiB, cut after 90%%\n", static_cast<unsigned long long>(mebibytes));
    const bool withRanges = RunOnce(size, expected, true, folder / "large.bin");
    const bool withoutRanges = RunOnce(size, expected, false, folder / "large.bin");
    std::filesystem::remove_all(folder);
    return withRanges && withoutRanges ? 0 : 1;
}
