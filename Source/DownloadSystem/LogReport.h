// The log report: "logfile.txt" next to the program, and the log entries as a gzip
// stream of UTF-16LE JSON posted to the download service. Runs on the caller's thread.
#pragma once

#include <string>

namespace DownloadSystem {

class LogReport {
public:
    explicit LogReport(std::u16string computerId) : computerId_(std::move(computerId)) {}

    // Writes the text file, then compresses the entries into `workFolder` (made when
    // missing), deletes that file again and posts its bytes. Blocks for the whole upload.
    void Post(const std::u16string& workFolder) const;

private:
    std::u16string computerId_;
};

}  // namespace DownloadSystem
