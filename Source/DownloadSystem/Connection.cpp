// Opening a download worker's HTTPS GET exchange and checking its reply.
#include "DownloadSystem/Connection.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <ctime>
#include <iterator>
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
constexpr std::uint32_t TooManyRequests = 429;
constexpr std::uint32_t ServiceUnavailable = 503;

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

// The value of the first header line called `name` (given in lower case, with its colon),
// without the blanks around it; no value when there is none.
std::optional<std::string_view> HeaderValue(std::string_view rawHeaders, std::string_view name) {
    std::size_t start = 0;
    while (start < rawHeaders.size()) {
        std::size_t end = rawHeaders.find('\n', start);
        if (end == std::string_view::npos) {
            end = rawHeaders.size();
        }
        std::string_view line = rawHeaders.substr(start, end - start);
        start = end + 1;
        if (!StartsWithNoCase(line, name)) {
            continue;
        }
        line.remove_prefix(name.size());
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) {
            line.remove_prefix(1);
        }
        while (!line.empty() &&
               (line.back() == '\r' || line.back() == ' ' || line.back() == '\t')) {
            line.remove_suffix(1);
        }
        return line;
    }
    return std::nullopt;
}

// Only printable text goes back into a request header.
bool IsPrintable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte >= 0x20 && byte < 0x7f;
    });
}

// Days from 1970-01-01 to the given day of the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(std::int64_t year, unsigned month, unsigned day) {
    year -= month <= 2 ? 1 : 0;
    const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
    const auto yearOfEra = static_cast<unsigned>(year - era * 400);
    const unsigned dayOfYear = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    const unsigned dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
    return era * 146097 + static_cast<std::int64_t>(dayOfEra) - 719468;
}

// "Sun, 06 Nov 1994 08:49:37 GMT" as seconds since 1970; the older date forms are not read.
std::optional<std::int64_t> ParseHttpDate(std::string_view text) {
    static constexpr std::string_view Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                  "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    if (text.size() != 29 || text[3] != ',' || text.substr(25) != " GMT") {
        return std::nullopt;
    }
    const auto digits = [&text](std::size_t at, std::size_t count, std::uint64_t& value) {
        std::string_view field = text.substr(at, count);
        return std::all_of(field.begin(), field.end(),
                           [](char c) { return c >= '0' && c <= '9'; }) &&
               TakeNumber(field, value);
    };
    std::uint64_t day = 0, year = 0, hour = 0, minute = 0, second = 0;
    const std::string_view monthName = text.substr(8, 3);
    const auto month = std::find(std::begin(Months), std::end(Months), monthName);
    if (month == std::end(Months) || !digits(5, 2, day) || !digits(12, 4, year) ||
        !digits(17, 2, hour) || !digits(20, 2, minute) || !digits(23, 2, second) ||
        text[4] != ' ' || text[7] != ' ' || text[11] != ' ' || text[16] != ' ' || text[19] != ':' ||
        text[22] != ':' || day < 1 || day > 31 || hour > 23 || minute > 59 || second > 60) {
        return std::nullopt;
    }
    const auto monthNumber = static_cast<unsigned>(month - std::begin(Months) + 1);
    const std::int64_t days =
        DaysFromCivil(static_cast<std::int64_t>(year), monthNumber, static_cast<unsigned>(day));
    return days * 86400 + static_cast<std::int64_t>(hour * 3600 + minute * 60 + second);
}

}  // namespace

bool ContentRangeContinuesAt(std::string_view rawHeaders, std::uint64_t from,
                             std::optional<std::uint64_t> total) {
    const auto value = HeaderValue(rawHeaders, "content-range:");
    if (!value || !StartsWithNoCase(*value, "bytes ")) {
        return false;
    }
    std::string_view line = value->substr(6);
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

std::string ObjectValidator(std::string_view rawHeaders) {
    const auto etag = HeaderValue(rawHeaders, "etag:");
    if (etag && etag->size() >= 2 && etag->front() == '"' && etag->back() == '"' &&
        IsPrintable(*etag)) {
        return std::string(*etag);
    }
    const auto modified = HeaderValue(rawHeaders, "last-modified:");
    if (modified && ParseHttpDate(*modified) && IsPrintable(*modified)) {
        return std::string(*modified);
    }
    return std::string();
}

std::optional<std::uint64_t> RetryAfterSeconds(std::string_view rawHeaders,
                                               std::int64_t nowUnixSeconds) {
    const auto value = HeaderValue(rawHeaders, "retry-after:");
    if (!value || value->empty()) {
        return std::nullopt;
    }
    std::string_view text = *value;
    std::uint64_t seconds = 0;
    if (TakeNumber(text, seconds)) {
        return text.empty() ? std::optional<std::uint64_t>(seconds) : std::nullopt;
    }
    const auto date = ParseHttpDate(*value);
    if (!date) {
        return std::nullopt;
    }
    return *date > nowUnixSeconds ? static_cast<std::uint64_t>(*date - nowUnixSeconds) : 0;
}

bool Connection::OpenHttpConnection(const GetRequest& get) {
    CloseHandles();
    rangeAnswered_ = false;
    rangeRefused_ = false;
    validator_.clear();
    retryAfter_.reset();
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
        if (!get.ifRange.empty() && IsPrintable(get.ifRange))
            headersToSend += "If-Range: " + get.ifRange + "\r\n";
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

    if (status == 200) {
        validator_ = ObjectValidator(headers);
        return true;
    }
    if (get.rangeFrom > 0 && (status == PartialContent || status == RangeNotSatisfiable)) {
        if (status == PartialContent &&
            ContentRangeContinuesAt(headers, get.rangeFrom, get.total)) {
            rangeAnswered_ = true;
            validator_ = ObjectValidator(headers);
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
    if (status == TooManyRequests || status == ServiceUnavailable)
        retryAfter_ = RetryAfterSeconds(headers, static_cast<std::int64_t>(std::time(nullptr)));
    if (!headers.empty()) {
        VESK_REPORT_ERROR("Response status not 200, but " + std::to_string(status) +
                              " Response headers: " + headers,
                          vesk::ErrorNumber::ResponseStatusNot200);
    }
    CloseHandles();
    return false;
}

}  // namespace DownloadSystem
