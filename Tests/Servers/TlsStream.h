// Buffered reading and writing on one server-side TLS connection, and parsing of the HTTP
// requests that arrive on it.
#pragma once

#include "Servers/HttpExchange.h"

#include <cstddef>
#include <string>
#include <vector>

typedef struct ssl_st SSL;

namespace TestServers {

class TlsStream {
public:
    explicit TlsStream(SSL* ssl) : ssl_(ssl), buffer_(16 * 1024) {}

    // One line without its CRLF (or LF); false on end of stream or a line over `limit`.
    bool ReadLine(std::string& line, std::size_t limit);
    // Reads `size` bytes, appending to `out` while it is shorter than `cap`.
    bool Read(std::size_t size, std::string& out, std::size_t cap);
    bool Write(const void* data, std::size_t size);
    bool Write(const std::string& text) { return Write(text.data(), text.size()); }

    std::size_t Buffered() const { return end_ - start_; }
    // Successful TLS reads so far; each returns the content of one record.
    std::size_t Fills() const { return fills_; }

private:
    bool Fill();

    SSL* ssl_;
    std::vector<char> buffer_;
    std::size_t start_ = 0;
    std::size_t end_ = 0;
    std::size_t fills_ = 0;
};

enum class ReadResult { Request, Closed, Malformed };

// Reads one request (head and body, Content-Length or chunked). Answers "Expect:
// 100-continue" before reading the body.
ReadResult ReadRequest(TlsStream& stream, RecordedRequest& request);

}  // namespace TestServers
