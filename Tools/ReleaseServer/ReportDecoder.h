// Turns a posted log report (gzip of UTF-16LE JSON text) into checked UTF-8 JSON
// text with bounded work: the gunzip streams with an output cap and a ratio limit,
// and the JSON is checked with a nesting limit without building a tree.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Tools {

struct ReportLimits {
    std::size_t maxDecodedBytes = 16u << 20;  // UTF-16 bytes after gunzip
    // Output bytes per input byte; checked once the output passes ratioGraceBytes,
    // so small, very regular logs still pass.
    std::size_t maxRatio = 200;
    std::size_t ratioGraceBytes = 1u << 20;
    int maxDepth = 32;  // arrays and objects inside one another
};

struct DecodedReport {
    int status = 400;   // 200 when `json` holds the log; else 400 or 413
    std::string error;  // why it was refused
    std::string json;   // the log as UTF-8 JSON text, exactly as sent (after conversion)
};

// Never throws; the work and memory are bounded by the body size and `limits`.
DecodedReport DecodeReport(std::string_view body, const ReportLimits& limits);

// Gunzips one gzip member (nothing may follow it) into `out`. Returns 0 on
// success, else 400 (damaged) or 413 (over a limit) with `error` set.
int GunzipBounded(std::string_view body, const ReportLimits& limits, std::string& out,
                  std::string& error);

// UTF-16LE (optional byte-order mark) to UTF-8; false on an odd length or an
// unpaired surrogate.
bool Utf16LeToUtf8(std::string_view bytes, std::string& out);

// True when `text` is one JSON value nested at most `maxDepth` deep, and nothing
// else: no byte-order mark, no NUL byte.
bool IsJsonWithinDepth(std::string_view text, int maxDepth, std::string& error);

}  // namespace Tools
