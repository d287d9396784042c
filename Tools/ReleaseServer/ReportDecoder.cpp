// Bounded decoding of log reports (zlib, nlohmann_json's event parser).
#include "ReportDecoder.h"

#include <zlib.h>

#include <nlohmann/json.hpp>

namespace Tools {

int GunzipBounded(std::string_view body, const ReportLimits& limits, std::string& out,
                  std::string& error) {
    out.clear();
    if (body.size() < 18 || static_cast<unsigned char>(body[0]) != 0x1F ||
        static_cast<unsigned char>(body[1]) != 0x8B) {
        error = "the body is not a gzip stream";
        return 400;
    }
    z_stream stream{};
    if (inflateInit2(&stream, 15 + 16) != Z_OK) {
        error = "cannot start decompression";
        return 400;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    stream.avail_in = static_cast<uInt>(body.size());
    char chunk[16384];
    int result = Z_OK;
    int status = 0;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        result = inflate(&stream, Z_NO_FLUSH);
        size_t produced = sizeof chunk - stream.avail_out;
        if (out.size() + produced > limits.maxDecodedBytes) {
            error =
                "the decompressed log exceeds " + std::to_string(limits.maxDecodedBytes) + " bytes";
            status = 413;
            break;
        }
        out.append(chunk, produced);
        // A bomb is stopped by its ratio long before it reaches the size cap.
        size_t consumed = body.size() - stream.avail_in;
        if (out.size() > limits.ratioGraceBytes && consumed > 0 &&
            out.size() / consumed > limits.maxRatio) {
            error = "the log decompresses more than " + std::to_string(limits.maxRatio) +
                    " times its size";
            status = 413;
            break;
        }
        if (result == Z_BUF_ERROR && stream.avail_in == 0) {
            break;  // input ended before the stream did
        }
    }
    if (status == 0 && result != Z_STREAM_END) {
        error = "the gzip stream is damaged or cut short";
        status = 400;
    }
    if (status == 0 && stream.avail_in != 0) {
        error = "bytes follow the gzip stream";
        status = 400;
    }
    inflateEnd(&stream);
    if (status != 0) {
        out.clear();
        out.shrink_to_fit();
    }
    return status;
}

bool Utf16LeToUtf8(std::string_view bytes, std::string& out) {
    out.clear();
    if (bytes.size() % 2 != 0) {
        return false;
    }
    out.reserve(bytes.size() / 2);
    auto unit = [&](size_t i) {
        return static_cast<char32_t>(static_cast<unsigned char>(bytes[i]) |
                                     (static_cast<unsigned char>(bytes[i + 1]) << 8));
    };
    size_t i = 0;
    if (bytes.size() >= 2 && unit(0) == 0xFEFF) {
        i = 2;
    }
    for (; i < bytes.size(); i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 3 >= bytes.size()) {
                return false;
            }
            char32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF) {
                return false;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return false;
        }
        if (c < 0x80) {
            out.push_back(static_cast<char>(c));
        } else if (c < 0x800) {
            out.push_back(static_cast<char>(0xC0 | (c >> 6)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back(static_cast<char>(0xE0 | (c >> 12)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        } else {
            out.push_back(static_cast<char>(0xF0 | (c >> 18)));
            out.push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
            out.push_back(static_cast<char>(0x80 | (c & 0x3F)));
        }
    }
    return true;
}

namespace {

// Checks syntax and nesting while keeping nothing of the values.
class DepthCheck : public nlohmann::json_sax<nlohmann::json> {
public:
    explicit DepthCheck(int maxDepth) : maxDepth_(maxDepth) {}

    bool null() override { return true; }
    bool boolean(bool) override { return true; }
    bool number_integer(number_integer_t) override { return true; }
    bool number_unsigned(number_unsigned_t) override { return true; }
    bool number_float(number_float_t, const string_t&) override { return true; }
    bool string(string_t&) override { return true; }
    bool binary(binary_t&) override { return true; }
    bool key(string_t&) override { return true; }
    bool start_object(std::size_t) override { return Enter(); }
    bool start_array(std::size_t) override { return Enter(); }
    bool end_object() override { return Leave(); }
    bool end_array() override { return Leave(); }
    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception&) override {
        error = "the log is not JSON (at byte " + std::to_string(position) + ")";
        return false;
    }

    std::string error;

private:
    bool Enter() {
        if (++depth_ > maxDepth_) {
            error = "the log nests deeper than " + std::to_string(maxDepth_) + " levels";
            return false;
        }
        return true;
    }
    bool Leave() {
        --depth_;
        return true;
    }

    int maxDepth_;
    int depth_ = 0;
};

}  // namespace

bool IsJsonWithinDepth(std::string_view text, int maxDepth, std::string& error) {
    // The parser takes a NUL byte for the end of the text and skips a
    // byte-order mark before the value; neither is JSON, and text after either
    // would be stored unchecked.
    if (text.find('\0') != std::string_view::npos) {
        error = "the log holds a NUL character outside a string escape";
        return false;
    }
    if (text.substr(0, 3) == "\xEF\xBB\xBF") {
        error = "the log has a second byte-order mark";
        return false;
    }
    DepthCheck check(maxDepth);
    bool ok = false;
    try {
        ok = nlohmann::json::sax_parse(text, &check, nlohmann::json::input_format_t::json, true);
    } catch (const std::exception& e) {
        check.error = std::string("the log is not JSON: ") + e.what();
        ok = false;
    }
    if (!ok) {
        error = check.error.empty() ? "the log is not JSON" : check.error;
    }
    return ok;
}

DecodedReport DecodeReport(std::string_view body, const ReportLimits& limits) {
    DecodedReport report;
    std::string utf16;
    if (int status = GunzipBounded(body, limits, utf16, report.error); status != 0) {
        report.status = status;
        return report;
    }
    bool converted = Utf16LeToUtf8(utf16, report.json);
    utf16.clear();
    utf16.shrink_to_fit();
    if (!converted) {
        report.json.clear();
        report.error = "the log is not UTF-16LE text";
        return report;
    }
    if (!IsJsonWithinDepth(report.json, limits.maxDepth, report.error)) {
        report.json.clear();
        return report;
    }
    report.status = 200;
    return report;
}

}  // namespace Tools
