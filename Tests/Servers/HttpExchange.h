// What the test HTTPS server records of each request and what a route answers with, including
// the faults a reply can carry on purpose.
#pragma once

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace TestServers {

// One request as it arrived.
struct RecordedRequest {
    std::string method;
    std::string target;                    // as on the request line, query included
    std::string path;                      // target without the query
    std::string version;                   // "HTTP/1.1"
    std::vector<std::string> headerLines;  // "Name: value", in arrival order
    std::string body;                      // decoded from chunked framing; capped at 64 MiB
    std::uint64_t bodySize = 0;            // full body length, also past the cap
    // TLS records that carried body bytes: with one record per client write this is the
    // number of pieces the client sent.
    std::size_t bodyPieces = 0;

    // Value of the first header called `name` (any case); empty when absent.
    std::string Header(std::string_view name) const;
    // Names of the header lines in arrival order.
    std::vector<std::string> HeaderNames() const;
};

// Deterministic generated content: byte `offset` of every pattern body.
inline unsigned char PatternByte(std::uint64_t offset) {
    return static_cast<unsigned char>((offset * 131 + (offset >> 12) * 7 + 17) & 0xFF);
}

// The answer of a route. Content comes from `body`, or from `file` when set, or is generated
// (`patternSize` bytes of PatternByte) when patternSize is not 0.
struct Reply {
    int status = 200;
    std::string reason;  // empty: the usual phrase for the status
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    std::filesystem::path file;
    std::uint64_t patternSize = 0;
    bool ranges = true;  // honour a single "Range: bytes=a-b" on a 200 reply

    // Faults.
    bool gzip = false;                       // send the content gzip-encoded
    std::vector<std::uint64_t> corruptAt;    // content offsets whose byte is inverted
    std::optional<std::uint64_t> dropAfter;  // cut the connection after this many body bytes
    bool resetOnDrop = false;                // cut with a TCP reset instead of a plain close
    bool silent = false;                     // read the request, never answer
    bool closeWithoutReply = false;          // read the request, close at once
    std::chrono::milliseconds delay{0};      // wait before the status line
    std::size_t slowPiece = 0;               // with slowPause: body in pieces of this size...
    std::chrono::milliseconds slowPause{0};  // ...with this pause after each
    bool endless = false;                    // chunked body of pattern bytes that never ends
    bool closeAfter = false;                 // "Connection: close" and close after the reply
    bool closeDelimited = false;             // no Content-Length: the body ends at the close
    bool dropIdle = false;                   // close after the whole reply without saying so

    static Reply Text(int status, std::string body) {
        Reply reply;
        reply.status = status;
        reply.body = std::move(body);
        return reply;
    }
    static Reply Pattern(std::uint64_t size) {
        Reply reply;
        reply.patternSize = size;
        return reply;
    }
};

}  // namespace TestServers
