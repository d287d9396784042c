// Writes replies for the test server: status line and headers, content streamed in pieces from
// memory, a file or the generated pattern, single byte ranges, gzip, and injected faults.
#include "Servers/ReplyWriter.h"

#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <string>
#include <vector>

namespace TestServers {

namespace {

constexpr std::size_t kPiece = 64 * 1024;

bool EqualsNoCase(std::string_view a, std::string_view b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

const char* ReasonPhrase(int status) {
    switch (status) {
        case 200:
            return "OK";
        case 204:
            return "No Content";
        case 206:
            return "Partial Content";
        case 301:
            return "Moved Permanently";
        case 302:
            return "Found";
        case 304:
            return "Not Modified";
        case 400:
            return "Bad Request";
        case 403:
            return "Forbidden";
        case 404:
            return "Not Found";
        case 416:
            return "Range Not Satisfiable";
        case 500:
            return "Internal Server Error";
        case 502:
            return "Bad Gateway";
        case 503:
            return "Service Unavailable";
        default:
            return "Status";
    }
}

// The reply's content, read by offset, with the requested bytes inverted.
class Content {
public:
    explicit Content(const Reply& reply) : reply_(reply) {
        if (reply.patternSize > 0) {
            size_ = reply.patternSize;
        } else if (!reply.file.empty()) {
            fd_ = ::open(reply.file.c_str(), O_RDONLY | O_CLOEXEC);
            off_t end = fd_ >= 0 ? ::lseek(fd_, 0, SEEK_END) : -1;
            missing_ = end < 0;
            size_ = end < 0 ? 0 : static_cast<std::uint64_t>(end);
        } else {
            size_ = reply.body.size();
        }
    }
    ~Content() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    Content(const Content&) = delete;
    Content& operator=(const Content&) = delete;

    bool Missing() const { return missing_; }
    std::uint64_t Size() const { return size_; }

    bool Read(std::uint64_t offset, char* out, std::size_t length) const {
        if (reply_.patternSize > 0) {
            for (std::size_t i = 0; i < length; ++i)
                out[i] = static_cast<char>(PatternByte(offset + i));
        } else if (fd_ >= 0) {
            std::size_t done = 0;
            while (done < length) {
                ssize_t got =
                    ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
                if (got <= 0)
                    return false;
                done += static_cast<std::size_t>(got);
            }
        } else {
            std::copy_n(reply_.body.data() + offset, length, out);
        }
        for (std::uint64_t at : reply_.corruptAt)
            if (at >= offset && at < offset + length)
                out[at - offset] = static_cast<char>(~out[at - offset]);
        return true;
    }

private:
    const Reply& reply_;
    int fd_ = -1;
    bool missing_ = false;
    std::uint64_t size_ = 0;
};

std::string Gzip(const std::string& data) {
    z_stream stream{};
    if (deflateInit2(&stream, Z_BEST_SPEED, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return {};
    std::string out(deflateBound(&stream, static_cast<uLong>(data.size())) + 32, '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
    stream.avail_in = static_cast<uInt>(data.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    int result = deflate(&stream, Z_FINISH);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return result == Z_STREAM_END ? out : std::string{};
}

// A single "bytes=a-b", "bytes=a-" or "bytes=-n" range; false when absent or not understood.
bool ParseRange(const std::string& header, std::uint64_t size, std::uint64_t& from,
                std::uint64_t& length, bool& satisfiable) {
    if (header.rfind("bytes=", 0) != 0 || header.find(',') != std::string::npos)
        return false;
    std::string spec = header.substr(6);
    std::size_t dash = spec.find('-');
    if (dash == std::string::npos)
        return false;
    std::string first = spec.substr(0, dash);
    std::string last = spec.substr(dash + 1);
    auto number = [](const std::string& text, std::uint64_t& value) {
        if (text.empty() || text.size() > 19 ||
            !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }))
            return false;
        value = std::stoull(text);
        return true;
    };
    std::uint64_t a = 0;
    std::uint64_t b = 0;
    if (first.empty()) {
        if (!number(last, b))
            return false;
        satisfiable = b > 0 && size > 0;
        from = size - std::min(b, size);
        length = size - from;
        return true;
    }
    if (!number(first, a) || (!last.empty() && !number(last, b)))
        return false;
    if (last.empty() || b >= size)
        b = size == 0 ? 0 : size - 1;
    satisfiable = a < size && a <= b;
    from = a;
    length = satisfiable ? b - a + 1 : 0;
    return true;
}

bool HasHeader(const Reply& reply, std::string_view name) {
    return std::any_of(reply.headers.begin(), reply.headers.end(),
                       [name](const auto& header) { return EqualsNoCase(header.first, name); });
}

AfterReply WriteEndless(TlsStream& stream, const Reply& reply, const std::string& head,
                        const std::function<bool(std::chrono::milliseconds)>& wait) {
    if (!stream.Write(head + "Transfer-Encoding: chunked\r\n\r\n"))
        return AfterReply::Close;
    std::size_t piece = reply.slowPiece > 0 ? reply.slowPiece : 16 * 1024;
    std::string chunk;
    char size[32];
    for (std::uint64_t offset = 0;; offset += piece) {
        chunk.assign(size,
                     static_cast<std::size_t>(std::snprintf(size, sizeof size, "%zx\r\n", piece)));
        for (std::size_t i = 0; i < piece; ++i)
            chunk.push_back(static_cast<char>(PatternByte(offset + i)));
        chunk += "\r\n";
        if (!stream.Write(chunk))
            return AfterReply::Close;
        if (reply.slowPause.count() > 0 ? !wait(reply.slowPause) : !wait({}))
            return AfterReply::Close;
    }
}

}  // namespace

AfterReply WriteReply(TlsStream& stream, const RecordedRequest& request, const Reply& reply,
                      const std::function<bool(std::chrono::milliseconds)>& wait) {
    if (reply.closeWithoutReply)
        return AfterReply::Cut;
    if (reply.silent)
        return AfterReply::StaySilent;
    if (reply.delay.count() > 0 && !wait(reply.delay))
        return AfterReply::Close;

    bool closing = reply.closeAfter || reply.closeDelimited ||
                   EqualsNoCase(request.Header("Connection"), "close");
    int status = reply.status;
    Content content(reply);
    if (content.Missing())
        status = 404;

    std::string encoded;
    bool gzip = reply.gzip && !content.Missing();
    std::uint64_t size = content.Size();
    if (gzip) {
        std::string plain(static_cast<std::size_t>(size), '\0');
        content.Read(0, plain.data(), plain.size());
        encoded = Gzip(plain);
        size = encoded.size();
    }

    std::uint64_t from = 0;
    std::uint64_t length = size;
    std::string extra;
    bool satisfiable = true;
    if (reply.ranges && status == 200 && !gzip && !reply.endless &&
        ParseRange(request.Header("Range"), size, from, length, satisfiable)) {
        if (satisfiable) {
            status = 206;
            extra += "Content-Range: bytes " + std::to_string(from) + "-" +
                     std::to_string(from + length - 1) + "/" + std::to_string(size) + "\r\n";
        } else {
            status = 416;
            from = length = 0;
            extra += "Content-Range: bytes */" + std::to_string(size) + "\r\n";
        }
    }

    std::string head =
        "HTTP/1.1 " + std::to_string(status) + " " +
        (reply.reason.empty() || status != reply.status ? ReasonPhrase(status) : reply.reason) +
        "\r\n";
    for (const auto& [name, value] : reply.headers)
        head += name + ": " + value + "\r\n";
    head += extra;
    if (gzip)
        head += "Content-Encoding: gzip\r\n";
    if (closing && !HasHeader(reply, "Connection"))
        head += "Connection: close\r\n";
    if (reply.endless)
        return WriteEndless(stream, reply, head, wait);

    bool bodyless = status == 204 || status == 304 || (status >= 100 && status < 200);
    if (!bodyless && !reply.closeDelimited && !HasHeader(reply, "Content-Length"))
        head += "Content-Length: " + std::to_string(length) + "\r\n";
    head += "\r\n";
    if (!stream.Write(head))
        return AfterReply::Close;
    if (bodyless || request.method == "HEAD")
        return closing ? AfterReply::Close : AfterReply::KeepAlive;

    std::uint64_t limit = reply.dropAfter ? std::min(length, *reply.dropAfter) : length;
    std::size_t piece = reply.slowPiece > 0 ? reply.slowPiece : kPiece;
    std::vector<char> buffer(piece);
    for (std::uint64_t sent = 0; sent < limit;) {
        std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(piece, limit - sent));
        if (gzip)
            std::copy_n(encoded.data() + from + sent, n, buffer.data());
        else if (!content.Read(from + sent, buffer.data(), n))
            return AfterReply::Cut;
        if (!stream.Write(buffer.data(), n))
            return AfterReply::Close;
        sent += n;
        if (reply.slowPause.count() > 0 && sent < limit && !wait(reply.slowPause))
            return AfterReply::Close;
    }
    if (reply.dropAfter && *reply.dropAfter < length)
        return reply.resetOnDrop ? AfterReply::CutWithReset : AfterReply::Cut;
    return closing || reply.dropIdle ? AfterReply::Close : AfterReply::KeepAlive;
}

}  // namespace TestServers
