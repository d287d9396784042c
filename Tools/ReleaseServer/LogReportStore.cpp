// Storing log reports within a quota and a per-sender rate (nlohmann_json).
#include "LogReportStore.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/evp.h>

#include <algorithm>
#include <ctime>
#include <nlohmann/json.hpp>

#include "FileWriting.h"
#include "NameRules.h"

namespace Tools {

namespace {

constexpr std::size_t kMaxTrackedSenders = 10000;

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

// The network a sender's share is kept for: an IPv4 /24 or an IPv6 /64 (what
// one party usually holds); any other text stands for itself.
std::string SenderNetwork(std::string_view address) {
    const std::string text(address);
    unsigned char bytes[sizeof(in6_addr)];
    if (inet_pton(AF_INET, text.c_str(), bytes) == 1) {
        return std::string(reinterpret_cast<const char*>(bytes), 3);
    }
    if (inet_pton(AF_INET6, text.c_str(), bytes) == 1) {
        return "6" + std::string(reinterpret_cast<const char*>(bytes), 8);
    }
    return "?" + text;
}

}  // namespace

std::size_t ReportMemoryCost(std::size_t bodyBytes, const ReportLimits& limits) {
    const std::size_t decoded = std::min(
        limits.maxDecodedBytes, std::max(limits.ratioGraceBytes, limits.maxRatio * bodyBytes));
    return 3 * bodyBytes + 4 * decoded;
}

LogReportStore::LogReportStore(std::filesystem::path folder, ReportStoreLimits limits)
    : folder_(std::move(folder)), limits_(limits) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder_, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().extension() == ".json" && it->is_regular_file(ec)) {
            storedBytes_ += it->file_size(ec);
            ++storedFiles_;
        }
    }
}

bool LogReportStore::Admit(const std::string& address, ReportOutcome& refusal) {
    auto now = std::chrono::steady_clock::now();
    const double perSecond = 1.0 / static_cast<double>(limits_.refill.count());
    std::lock_guard lock(mutex_);
    if (buckets_.size() >= kMaxTrackedSenders && buckets_.count(address) == 0) {
        // Forget senders whose allowance has refilled; they lose nothing.
        for (auto it = buckets_.begin(); it != buckets_.end();) {
            double seconds = std::chrono::duration<double>(now - it->second.updated).count();
            it = it->second.tokens + seconds * perSecond >= limits_.burst ? buckets_.erase(it)
                                                                          : std::next(it);
        }
        if (buckets_.size() >= kMaxTrackedSenders) {
            refusal.status = 429;
            refusal.message = "too many senders of reports; try again later";
            return false;
        }
    }
    auto [it, added] = buckets_.try_emplace(address);
    Bucket& bucket = it->second;
    if (added) {
        bucket.tokens = limits_.burst;
    } else {
        double seconds = std::chrono::duration<double>(now - bucket.updated).count();
        bucket.tokens = std::min<double>(limits_.burst, bucket.tokens + seconds * perSecond);
    }
    bucket.updated = now;
    if (bucket.tokens < 1.0) {
        refusal.status = 429;
        refusal.message = "too many reports from " + address + "; try again later";
        return false;
    }
    bucket.tokens -= 1.0;
    return true;
}

ReportOutcome LogReportStore::Store(std::string_view computerId,
                                    const std::vector<std::pair<std::string, std::string>>& headers,
                                    std::string_view body, std::string_view remoteAddress,
                                    std::chrono::system_clock::time_point received) {
    ReportOutcome outcome;
    if (!IsSafeIdentifier(computerId)) {
        outcome.message = "missing or malformed ComputerId header";
        return outcome;
    }
    DecodedReport decoded = DecodeReport(body, limits_.decoding);
    if (decoded.status != 200) {
        outcome.status = decoded.status;
        outcome.message = decoded.error;
        return outcome;
    }

    // The report is written compactly, the checked log text spliced in as it
    // came, so its size is the body's and the log's plus a little, whatever
    // the log's shape.
    nlohmann::ordered_json head;
    head["computer_id"] = std::string(computerId);
    head["received_utc"] = UtcStamp(received, false);
    head["remote_address"] = std::string(remoteAddress);
    nlohmann::ordered_json headerObject = nlohmann::ordered_json::object();
    for (const auto& [name, value] : headers) {
        headerObject[name] = value;
    }
    head["headers"] = headerObject;
    head["body_bytes"] = body.size();
    // Header values are whatever the sender put there; replace bytes that are
    // not UTF-8 rather than fail on them.
    std::string text = head.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    text.pop_back();  // the closing brace
    text.reserve(text.size() + decoded.json.size() + body.size() * 4 / 3 + 64);
    text += ",\"log\":";
    text += decoded.json;
    decoded.json.clear();
    decoded.json.shrink_to_fit();
    text += ",\"body_gzip_base64\":\"";
    text += Base64(body);
    text += "\"}\n";

    const std::string network = SenderNetwork(remoteAddress);
    {
        std::lock_guard lock(mutex_);
        if (storedFiles_ + 1 > limits_.maxFolderFiles ||
            storedBytes_ + text.size() > limits_.maxFolderBytes) {
            outcome.status = 429;
            outcome.message = "the report store is full; try again later";
            return outcome;
        }
        const std::size_t divisor = std::max<std::size_t>(1, limits_.senderShareDivisor);
        Usage& usage = senders_[network];
        // A network's first report always fits its share, however small the folder.
        if (usage.files > 0 && (usage.files + 1 > limits_.maxFolderFiles / divisor ||
                                usage.bytes + text.size() > limits_.maxFolderBytes / divisor)) {
            if (usage.files == 0) {
                senders_.erase(network);
            }
            outcome.status = 429;
            outcome.message = "the reports of " + std::string(remoteAddress) +
                              "'s network fill its share of the store; try again later";
            return outcome;
        }
        storedFiles_ += 1;  // reserved until the write is done
        storedBytes_ += text.size();
        usage.files += 1;
        usage.bytes += text.size();
    }
    std::filesystem::path written;
    std::string error;
    if (!WriteNewFile(folder_, std::string(computerId) + "_" + UtcStamp(received, true), ".json",
                      text, written, error)) {
        std::lock_guard lock(mutex_);
        storedFiles_ -= 1;
        storedBytes_ -= text.size();
        Usage& usage = senders_[network];
        usage.files -= 1;
        usage.bytes -= text.size();
        if (usage.files == 0) {
            senders_.erase(network);
        }
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
