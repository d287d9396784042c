// Log reports the client posts: gzip of the application log as UTF-16LE JSON.
// Each accepted report becomes one file in the reports folder, named with the
// sender's machine id and the time, holding the decoded log and the raw body.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace Tools {

struct ReportOutcome {
    int status = 400;              // 200 when stored; 400 bad body, 413 too large, 500 disk
    std::string message;           // what happened, for the reply and the request log
    std::filesystem::path stored;  // the report file when status is 200
};

class LogReportStore {
public:
    LogReportStore(std::filesystem::path folder, std::size_t maxDecodedBytes);

    // Checks the whole body (gzip stream, UTF-16LE text, JSON) before anything
    // is written, then stores the report in one atomic step.
    ReportOutcome Store(std::string_view computerId,
                        const std::vector<std::pair<std::string, std::string>>& headers,
                        std::string_view body, std::string_view remoteAddress,
                        std::chrono::system_clock::time_point received) const;

    // Gunzips `body` (one gzip member, nothing after it) into at most `maxBytes`.
    // Returns 0 on success, else the HTTP status to refuse with, `error` set.
    static int Gunzip(std::string_view body, std::size_t maxBytes, std::string& out,
                      std::string& error);

    // UTF-16LE (optional byte-order mark) to UTF-8; false on an odd length or an
    // unpaired surrogate.
    static bool Utf16LeToUtf8(std::string_view bytes, std::string& out);

private:
    std::filesystem::path folder_;
    std::size_t maxDecodedBytes_;
};

}  // namespace Tools
