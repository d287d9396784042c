// libFuzzer entry for the log-report decoder: gzip, then UTF-16LE, then JSON;
// every log it accepts must make a stored report that parses as JSON.
// The first byte picks the layer: odd sends the rest as the posted body; even
// gzips the rest here first, so that mutations reach the text and JSON checks
// instead of dying in the gzip header. Small limits keep each input cheap while
// still reaching every refusal.
#include <zlib.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "ReportDecoder.h"

namespace {

std::string Gzip(std::string_view bytes) {
    z_stream stream{};
    if (deflateInit2(&stream, 1, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK) {
        return {};
    }
    std::string out(deflateBound(&stream, bytes.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    Tools::ReportLimits limits;
    limits.maxDecodedBytes = 1 << 20;
    limits.ratioGraceBytes = 64 * 1024;
    std::string_view rest(reinterpret_cast<const char*>(data + 1), size - 1);
    std::string body = (data[0] & 1) != 0 ? std::string(rest) : Gzip(rest);
    Tools::DecodedReport report = Tools::DecodeReport(body, limits);
    if (report.status == 200 && report.json.empty()) {
        __builtin_trap();  // an accepted report always carries its log
    }
    // The log is stored spliced into the report's object: with text after it
    // (the closing brace), a value the parser only took as complete because
    // it stopped early fails here.
    if (report.status == 200 && !nlohmann::json::accept("{\"log\":" + report.json + "}")) {
        __builtin_trap();  // an accepted log would make a stored report that is not JSON
    }
    return 0;
}
