// Log reports the client posts: gzip of the application log as UTF-16LE JSON.
// Each accepted report becomes one file in the reports folder, named with the
// sender's machine id and the time, holding the decoded log and the raw body.
// The folder has a quota (bytes and files; when it is full new reports are
// refused and the stored ones kept), each sender network its share of that
// quota, and each sender address a rate limit.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ReportDecoder.h"

namespace Tools {

struct ReportOutcome {
    int status = 400;              // 200 stored; 400 bad body, 413 too large, 429 refused, 500 disk
    std::string message;           // what happened, for the reply and the request log
    std::filesystem::path stored;  // the report file when status is 200
};

struct ReportStoreLimits {
    ReportLimits decoding;
    std::uint64_t maxFolderBytes = 1ull << 30;
    std::size_t maxFolderFiles = 10000;
    // Token bucket per sender address: `burst` reports at once, then one per
    // `refill` interval.
    int burst = 10;
    std::chrono::seconds refill{6};
    // Each sender network (an IPv4 /24, an IPv6 /64) may fill this fraction of
    // the folder's bytes and files (its first report always fits), so one of
    // them cannot lock out the rest.
    std::size_t senderShareDivisor = 16;
};

// The most memory one report with a body of `bodyBytes` takes while it is
// decoded and stored: the body, the gunzipped text (bounded by the size cap and
// the ratio) and its UTF-8 copy, the stored text and the strings' spare room.
std::size_t ReportMemoryCost(std::size_t bodyBytes, const ReportLimits& limits);

class LogReportStore {
public:
    // Counts the reports already in `folder` towards the quota.
    LogReportStore(std::filesystem::path folder, ReportStoreLimits limits);

    // Takes one report from `address`'s allowance; false (and a 429 outcome)
    // when it is used up. Cheap: call it before reading the body.
    bool Admit(const std::string& address, ReportOutcome& refusal);

    // Checks the whole body (gzip stream, UTF-16LE text, JSON) before anything
    // is written, then stores the report in one atomic step. Nothing is written
    // when any check fails or the quota is reached.
    ReportOutcome Store(std::string_view computerId,
                        const std::vector<std::pair<std::string, std::string>>& headers,
                        std::string_view body, std::string_view remoteAddress,
                        std::chrono::system_clock::time_point received);

private:
    struct Usage {
        std::uint64_t bytes = 0;
        std::size_t files = 0;
    };
    struct Bucket {
        double tokens = 0;
        std::chrono::steady_clock::time_point updated;
    };

    std::filesystem::path folder_;
    ReportStoreLimits limits_;
    std::mutex mutex_;
    std::uint64_t storedBytes_ = 0;
    std::size_t storedFiles_ = 0;
    std::map<std::string, Bucket> buckets_;
    // What each sender network stored since the store was made; reports found
    // in the folder at start count towards the folder alone.
    std::map<std::string, Usage> senders_;
};

}  // namespace Tools
