// Opens the HTTPS GET exchange of a download worker: session, connection, request with the
// worker's headers, and the check that the server answered 200 (or the range asked for). It
// owns the exchange's handles and what the last reply said about the range.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "DownloadSystem/HttpExchange.h"
#include "Platform/Http.h"

namespace DownloadSystem {

// True when the raw reply headers carry "Content-Range: bytes FROM-LAST/TOTAL" for the
// rest of the object from `from` (LAST + 1 == TOTAL), and TOTAL equals `total` when one
// is known. Header names are matched in any case.
bool ContentRangeContinuesAt(std::string_view rawHeaders, std::uint64_t from,
                             std::optional<std::uint64_t> total);

// The validator an "If-Range" may carry for the object of these reply headers: its strong
// ETag, else its Last-Modified date, else empty (a weak ETag cannot vouch for bytes).
std::string ObjectValidator(std::string_view rawHeaders);

// The wait a "Retry-After" header asks for, in seconds from `nowUnixSeconds`: a number of
// seconds or an HTTP date (a date past gives 0). No value when there is no such header or
// it cannot be read.
std::optional<std::uint64_t> RetryAfterSeconds(std::string_view rawHeaders,
                                               std::int64_t nowUnixSeconds);

// What one GET asks for.
struct GetRequest {
    // Host name to connect to; "host:port" selects another port than 443.
    std::u16string server;
    // Object path on the server, and the text appended to it verbatim (a signature query).
    std::u16string remotePath;
    std::u16string remoteSuffix;
    // The local file the object is for, named in the log texts.
    std::u16string target;
    // "Range: bytes=N-" when above 0: the rest of the object from that offset.
    std::uint64_t rangeFrom = 0;
    // The object's size, when known; a range reply must agree with it.
    std::optional<std::uint64_t> total;
    // Sent as "If-Range" with a range request, so a changed object comes whole.
    std::string ifRange;
};

class Connection {
public:
    static constexpr std::uint16_t DefaultPort = 443;

    virtual ~Connection() = default;

    // Polled by every network wait of the exchanges opened afterwards; true ends them.
    void SetCancelCheck(Platform::HttpCancelCheck stopped) { stopped_ = std::move(stopped); }

    // Closes the open handles, then opens new ones and sends the GET request for remote path
    // + remote suffix. Keeps the reply's status (GetStatus). True when the server answered
    // 200, or, for a range request, a 206 whose Content-Range continues at the offset asked
    // for (RangeAnswered); any other 206 or a 416 is refused (RangeRefused). Every failure
    // is logged and leaves the handles closed.
    bool OpenHttpConnection(const GetRequest& get);

    // Closes the request, connection and session, in that order.
    void CloseHandles() { exchange_.Close(); }

    // An open request, from a successful OpenHttpConnection until CloseHandles.
    bool IsOpen() const { return exchange_.HasRequest(); }
    Platform::HttpRequest& Request() { return exchange_.Request(); }

    // HTTP status of the last reply read; 0 before any.
    std::uint32_t GetStatus() const { return status_; }
    // What the last reply did with the range asked for.
    bool RangeAnswered() const { return rangeAnswered_; }
    bool RangeRefused() const { return rangeRefused_; }
    // The object's validator from the last 200 or 206 reply (see ObjectValidator).
    const std::string& Validator() const { return validator_; }
    // The wait a refusing 429 or 503 reply asked for before the next attempt.
    std::optional<std::uint64_t> RetryAfter() const { return retryAfter_; }

private:
    HttpExchange exchange_;
    Platform::HttpCancelCheck stopped_;
    std::uint32_t status_ = 0;
    bool rangeAnswered_ = false;
    bool rangeRefused_ = false;
    std::string validator_;
    std::optional<std::uint64_t> retryAfter_;
};

}  // namespace DownloadSystem
