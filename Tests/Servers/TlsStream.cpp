// Server-side TLS reads and writes through a small buffer, and the request parser that records
// header lines in arrival order and counts the records that carried the body.
#include "Servers/TlsStream.h"

#include <openssl/ssl.h>

#include <algorithm>
#include <cctype>
#include <cstring>

namespace TestServers {

namespace {

constexpr std::size_t kLineLimit = 64 * 1024;
constexpr std::size_t kHeadLimit = 1024 * 1024;
constexpr std::size_t kBodyCap = 64 * 1024 * 1024;

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string_view Trim(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
        text.remove_suffix(1);
    return text;
}

bool ParseSize(std::string_view text, int base, std::uint64_t& value) {
    text = Trim(text);
    if (text.empty() || text.size() > 16)
        return false;
    value = 0;
    for (char c : text) {
        int digit = std::isdigit(static_cast<unsigned char>(c))    ? c - '0'
                    : std::isxdigit(static_cast<unsigned char>(c)) ? std::tolower(c) - 'a' + 10
                                                                   : 99;
        if (digit >= base)
            return false;
        value = value * static_cast<unsigned>(base) + static_cast<unsigned>(digit);
    }
    return true;
}

}  // namespace

std::string RecordedRequest::Header(std::string_view name) const {
    for (const std::string& line : headerLines) {
        std::size_t colon = line.find(':');
        if (colon != std::string::npos && EqualsNoCase(Trim(line.substr(0, colon)), name))
            return std::string(Trim(std::string_view(line).substr(colon + 1)));
    }
    return {};
}

std::vector<std::string> RecordedRequest::HeaderNames() const {
    std::vector<std::string> names;
    for (const std::string& line : headerLines)
        names.push_back(line.substr(0, line.find(':')));
    return names;
}

bool TlsStream::Fill() {
    if (start_ == end_)
        start_ = end_ = 0;
    if (end_ == buffer_.size()) {
        if (start_ == 0)
            return false;
        std::memmove(buffer_.data(), buffer_.data() + start_, end_ - start_);
        end_ -= start_;
        start_ = 0;
    }
    int got = SSL_read(ssl_, buffer_.data() + end_, static_cast<int>(buffer_.size() - end_));
    if (got <= 0)
        return false;
    end_ += static_cast<std::size_t>(got);
    ++fills_;
    return true;
}

bool TlsStream::ReadLine(std::string& line, std::size_t limit) {
    line.clear();
    for (;;) {
        const char* begin = buffer_.data() + start_;
        const char* newline = static_cast<const char*>(std::memchr(begin, '\n', end_ - start_));
        std::size_t take =
            newline != nullptr ? static_cast<std::size_t>(newline - begin) + 1 : end_ - start_;
        line.append(begin, take);
        start_ += take;
        if (line.size() > limit)
            return false;
        if (newline != nullptr)
            break;
        if (!Fill())
            return false;
    }
    line.pop_back();
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return true;
}

bool TlsStream::Read(std::size_t size, std::string& out, std::size_t cap) {
    while (size > 0) {
        if (start_ == end_ && !Fill())
            return false;
        std::size_t take = std::min(size, end_ - start_);
        if (out.size() < cap)
            out.append(buffer_.data() + start_, std::min(take, cap - out.size()));
        start_ += take;
        size -= take;
    }
    return true;
}

bool TlsStream::Write(const void* data, std::size_t size) {
    const char* bytes = static_cast<const char*>(data);
    while (size > 0) {
        int chunk = static_cast<int>(std::min<std::size_t>(size, 1 << 20));
        int put = SSL_write(ssl_, bytes, chunk);
        if (put <= 0)
            return false;
        bytes += put;
        size -= static_cast<std::size_t>(put);
    }
    return true;
}

ReadResult ReadRequest(TlsStream& stream, RecordedRequest& request) {
    std::string line;
    do {  // tolerate empty lines between requests
        if (!stream.ReadLine(line, kLineLimit))
            return ReadResult::Closed;
    } while (line.empty());
    std::size_t first = line.find(' ');
    std::size_t second = first == std::string::npos ? first : line.find(' ', first + 1);
    if (second == std::string::npos)
        return ReadResult::Malformed;
    request.method = line.substr(0, first);
    request.target = line.substr(first + 1, second - first - 1);
    request.version = line.substr(second + 1);
    request.path = request.target.substr(0, request.target.find('?'));

    std::size_t headSize = line.size();
    for (;;) {
        if (!stream.ReadLine(line, kLineLimit))
            return ReadResult::Malformed;
        if (line.empty())
            break;
        headSize += line.size();
        if (headSize > kHeadLimit || line.find(':') == std::string::npos)
            return ReadResult::Malformed;
        request.headerLines.push_back(line);
    }

    if (EqualsNoCase(request.Header("Expect"), "100-continue") &&
        !stream.Write("HTTP/1.1 100 Continue\r\n\r\n"))
        return ReadResult::Closed;

    std::size_t fillsBefore = stream.Fills();
    bool leftover = stream.Buffered() > 0;
    auto countPieces = [&] {
        std::size_t pieces = stream.Fills() - fillsBefore + (leftover ? 1 : 0);
        request.bodyPieces = request.bodySize > 0 ? pieces : 0;
    };
    std::string encoding = request.Header("Transfer-Encoding");
    if (EqualsNoCase(encoding, "chunked")) {
        for (;;) {
            std::uint64_t size = 0;
            if (!stream.ReadLine(line, kLineLimit) ||
                !ParseSize(std::string_view(line).substr(0, line.find(';')), 16, size))
                return ReadResult::Malformed;
            if (size == 0)
                break;
            if (!stream.Read(size, request.body, kBodyCap) || !stream.ReadLine(line, 2) ||
                !line.empty())
                return ReadResult::Malformed;
            request.bodySize += size;
        }
        do {  // trailers
            if (!stream.ReadLine(line, kLineLimit))
                return ReadResult::Malformed;
        } while (!line.empty());
    } else if (!encoding.empty()) {
        return ReadResult::Malformed;
    } else {
        std::string lengthText = request.Header("Content-Length");
        std::uint64_t length = 0;
        if (!lengthText.empty() && !ParseSize(lengthText, 10, length))
            return ReadResult::Malformed;
        if (!stream.Read(length, request.body, kBodyCap))
            return ReadResult::Malformed;
        request.bodySize = length;
    }
    countPieces();
    return ReadResult::Request;
}

}  // namespace TestServers
