// Decoding and storing log reports (zlib, nlohmann_json).
#include "LogReportStore.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <ctime>
#include <nlohmann/json.hpp>

#include "FileWriting.h"
#include "NameRules.h"

namespace Tools {

LogReportStore::LogReportStore(std::filesystem::path folder, std::size_t maxDecodedBytes)
    : folder_(std::move(folder)), maxDecodedBytes_(maxDecodedBytes) {}

int LogReportStore::Gunzip(std::string_view body, std::size_t maxBytes, std::string& out,
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
        return 500;
    }
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(body.data()));
    stream.avail_in = static_cast<uInt>(body.size());
    char chunk[65536];
    int result = Z_OK;
    int status = 0;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(chunk);
        stream.avail_out = sizeof chunk;
        result = inflate(&stream, Z_NO_FLUSH);
        size_t produced = sizeof chunk - stream.avail_out;
        if (out.size() + produced > maxBytes) {
            error = "the decompressed log exceeds " + std::to_string(maxBytes) + " bytes";
            status = 413;
            break;
        }
        out.append(chunk, produced);
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
    }
    return status;
}

bool LogReportStore::Utf16LeToUtf8(std::string_view bytes, std::string& out) {
    out.clear();
    if (bytes.size() % 2 != 0) {
        return false;
    }
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

std::string Base64(std::string_view bytes) {
    std::string out(4 * ((bytes.size() + 2) / 3) + 1, '\0');
    int length = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(out.data()),
                                 reinterpret_cast<const unsigned char*>(bytes.data()),
                                 static_cast<int>(bytes.size()));
    out.resize(static_cast<size_t>(length));
    return out;
}

// "20240131T235959.123Z"
std::string UtcStamp(std::chrono::system_clock::time_point t, bool compact) {
    std::time_t seconds = std::chrono::system_clock::to_time_t(t);
    auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char text[40];
    std::strftime(text, sizeof text, compact ? "%Y%m%dT%H%M%S" : "%Y-%m-%dT%H:%M:%S", &utc);
    char full[48];
    std::snprintf(full, sizeof full, "%s.%03dZ", text, static_cast<int>(millis));
    return full;
}

}  // namespace

ReportOutcome LogReportStore::Store(std::string_view computerId,
                                    const std::vector<std::pair<std::string, std::string>>& headers,
                                    std::string_view body, std::string_view remoteAddress,
                                    std::chrono::system_clock::time_point received) const {
    ReportOutcome outcome;
    if (!IsSafeIdentifier(computerId)) {
        outcome.message = "missing or malformed ComputerId header";
        return outcome;
    }
    std::string utf16;
    std::string error;
    if (int status = Gunzip(body, maxDecodedBytes_, utf16, error); status != 0) {
        outcome.status = status;
        outcome.message = error;
        return outcome;
    }
    std::string utf8;
    if (!Utf16LeToUtf8(utf16, utf8)) {
        outcome.message = "the log is not UTF-16LE text";
        return outcome;
    }
    nlohmann::json log = nlohmann::json::parse(utf8, nullptr, false);
    if (log.is_discarded()) {
        outcome.message = "the log is not JSON";
        return outcome;
    }

    nlohmann::ordered_json report;
    report["computer_id"] = std::string(computerId);
    report["received_utc"] = UtcStamp(received, false);
    report["remote_address"] = std::string(remoteAddress);
    nlohmann::ordered_json headerObject = nlohmann::ordered_json::object();
    for (const auto& [name, value] : headers) {
        headerObject[name] = value;
    }
    report["headers"] = headerObject;
    report["body_bytes"] = body.size();
    report["log"] = log;
    report["body_gzip_base64"] = Base64(body);
    // Header values are whatever the sender put there; replace bytes that are
    // not UTF-8 rather than fail on them.
    std::string text = report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";

    std::error_code ec;
    std::filesystem::create_directories(folder_, ec);
    std::filesystem::path written;
    if (!WriteNewFile(folder_, std::string(computerId) + "_" + UtcStamp(received, true), ".json",
                      text, written, error)) {
        outcome.status = 500;
        outcome.message = error;
        return outcome;
    }
    outcome.status = 200;
    outcome.message = "stored " + written.filename().string();
    outcome.stored = written;
    return outcome;
}

}  // namespace Tools
