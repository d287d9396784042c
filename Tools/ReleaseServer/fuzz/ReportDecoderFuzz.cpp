// libFuzzer entry for the log-report decoder: gzip, then UTF-16LE, then JSON.
// Small limits keep each input cheap while still reaching every refusal.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "ReportDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Tools::ReportLimits limits;
    limits.maxDecodedBytes = 1 << 20;
    limits.ratioGraceBytes = 64 * 1024;
    std::string_view body(reinterpret_cast<const char*>(data), size);
    Tools::DecodedReport report = Tools::DecodeReport(body, limits);
    if (report.status == 200 && report.json.empty()) {
        __builtin_trap();  // an accepted report always carries its log
    }
    return 0;
}
