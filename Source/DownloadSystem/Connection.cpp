// Opening a download worker's HTTPS GET exchange and checking its reply.
#include "DownloadSystem/Connection.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <string>

#include "DownloadSystem/RequestTimeouts.h"
#include "Platform/Http.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {

using vesk::StringUtils;

namespace {

constexpr std::string_view RequestHeaders = "User-Agent: Sorvan Download Manager / 9.5\r\n";
constexpr std::uint32_t PartialContent = 206;
constexpr std::uint32_t RangeNotSatisfiable = 416;

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
    return text.size() >= prefix.size() &&
           std::equal(prefix.begin(), prefix.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

// Reads a decimal number at the front of `text` and drops it; false without digits.
bool TakeNumber(std::string_view& text, std::uint64_t& value) {
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end == text.data()) {
        return false;
    }
    text.remove_prefix(static_cast<std::size_t>(end - text.data()));
    return true;
}

bool TakeChar(std::string_view& text, char c) {
    if (text.empty() || text.front() != c) {
        return false;
    }
    text.remove_prefix(1);
    return true;
}

}  // namespace

bool ContentRangeContinuesAt(std::string_view rawHeaders, std::uint64_t from,
                             std::optional<std::uint64_t> total) {
    constexpr std::string_view Name = "content-range:";
    std::size_t start = 0;
    while (start < rawHeaders.size()) {
        std::size_t end = rawHeaders.find('\n', start);
        if (end == std::string_view::npos) {
            end = rawHeaders.size();
        }
        std::string_view line = rawHeaders.substr(start, end - start);
        start = end + 1;
        if (!StartsWithNoCase(line, Name)) {
            continue;
        }
        line.remove_prefix(Name.size());
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) {
            line.remove_suffix(1);
        }
        if (!StartsWithNoCase(line, "bytes ")) {
            return false;
        }
        line.remove_prefix(6);
        std::uint64_t first = 0;
        std::uint64_t last = 0;
        std::uint64_t size = 0;
        if (!TakeNumber(line, first) || !TakeChar(line, '-') || !TakeNumber(line, last) ||
            !TakeChar(line, '/') || !TakeNumber(line, size) || !line.empty()) {
            return false;
        }
        return first == from && last >= first && size > 0 && last == size - 1 &&
               (!total || *total == size);
    }
    return false;
}

bool Connection::OpenHttpConnection(const GetRequest& get) {
    CloseHandles();
    rangeAnswered_ = false;
    rangeRefused_ = false;
    vesk::LogFailure(u"Opening connection: " + get.server, 0, __FILE__, __LINE__);

    // A stop request ends any network wait of this exchange.
    if (!exchange_.OpenSession(StringUtils::ToNarrow(get.target), stopped_)) {
        VESK_LOG_FAILURE("InternetOpen failed", ErrorOf(exchange_.LastError()));
        CloseHandles();
        return false;
    }
    if (!exchange_.Connect(StringUtils::ToNarrow(get.server), DefaultPort)) {
        VESK_LOG_FAILURE("Connection::OpenHttpConnection InternetConnect failed",
                         ErrorOf(exchange_.LastError()));
        CloseHandles();
        return false;
    }

    const std::u16string where = get.server + u"/ " + get.remotePath;
    const std::string objectName = StringUtils::ToNarrow(get.remotePath + get.remoteSuffix);
    if (!exchange_.OpenRequest("GET", objectName, true)) {
        vesk::LogFailure(u"Connection::HttpOpenRequest failed for: " + where,
                         ErrorOf(exchange_.LastError()), __FILE__, __LINE__);
        CloseHandles();
        return false;
    }
    Platform::HttpRequest& request = exchange_.Request();
    std::string headersToSend(RequestHeaders);
    if (get.rangeFrom > 0) {
        headersToSend += "Range: bytes=" + std::to_string(get.rangeFrom) + "-\r\n";
    }
    if (!request.Send(headersToSend)) {
        vesk::LogFailure(u"Connection::HttpSendRequest failed for: " + where,
                         ErrorOf(request.LastError()), __FILE__, __LINE__);
        CloseHandles();
        return false;
    }

    std::uint32_t status = 0;
    if (!request.QueryStatusCode(status)) {
        vesk::LogFailure(u"Connection::HttpQueryInfo failed for: " + get.target,
                         ErrorOf(request.LastError()), __FILE__, __LINE__);
        CloseHandles();
        return false;
    }
    status_ = status;

    std::string headers;
    if (!request.QueryRawHeaders(headers)) {
        vesk::LogFailure(u"Connection::HttpQueryInfo failed for: " + get.target,
                         ErrorOf(request.LastError()), __FILE__, __LINE__);
        CloseHandles();
        return false;
    }
    if (!headers.empty())
        VESK_LOG_INFO("Response headers: " + headers);

    if (status == 200)
        return true;
    if (get.rangeFrom > 0 && (status == PartialContent || status == RangeNotSatisfiable)) {
        if (status == PartialContent &&
            ContentRangeContinuesAt(headers, get.rangeFrom, get.total)) {
            rangeAnswered_ = true;
            return true;
        }
        // The bytes on disk cannot be continued; the worker starts the file over.
        vesk::LogFailure(u"Connection: the server's range does not continue at byte " +
                             StringUtils::ToWide(std::to_string(get.rangeFrom)) + u" of " +
                             get.target + u"; starting over",
                         vesk::ErrorNumber::RetryingDownload, __FILE__, __LINE__);
        rangeRefused_ = true;
        CloseHandles();
        return false;
    }
    if (!headers.empty()) {
        VESK_REPORT_ERROR("Response status not 200, but " + std::to_string(status) +
                              " Response headers: " + headers,
                          vesk::ErrorNumber::ResponseStatusNot200);
    }
    CloseHandles();
    return false;
}

}  // namespace DownloadSystem
