// Routes of the reference release server and its request log.
#include "ReleaseServer.h"

#include <arpa/inet.h>
#include <strings.h>
#include <unistd.h>

#include <httplib.h>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <nlohmann/json.hpp>
#include <thread>

#include "ContentAccess.h"
#include "LogReportStore.h"
#include "NameRules.h"
#include "PercentDecoding.h"
#include "ReleaseCatalog.h"

namespace Tools {
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kContentBlock = 256 * 1024;

std::string ContentTypeFor(const fs::path& file) {
    static const std::map<std::string, std::string> kTypes = {
        {".json", "application/json"}, {".png", "image/png"},  {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},       {".txt", "text/plain"}, {".gif", "image/gif"},
        {".bmp", "image/bmp"},         {".html", "text/html"},
    };
    auto it = kTypes.find(file.extension().string());
    return it == kTypes.end() ? "application/octet-stream" : it->second;
}

// An open file shared by the content provider calls of one response.
struct OpenFile {
    explicit OpenFile(int descriptor) : fd(descriptor) {}
    ~OpenFile() { close(fd); }
    int fd;
};

// Keeps one reply to a rate: each block waits until the bytes before it are due.
struct Pace {
    explicit Pace(std::size_t rate) : bytesPerSecond(rate) {}
    bool WaitForTurn(std::size_t bytes, const std::atomic<bool>& stop) {
        const auto due =
            start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(static_cast<double>(sent) /
                                                      static_cast<double>(bytesPerSecond)));
        for (auto now = std::chrono::steady_clock::now(); now < due && !stop;
             now = std::chrono::steady_clock::now()) {
            std::this_thread::sleep_for(std::min<std::chrono::steady_clock::duration>(
                due - now, std::chrono::milliseconds(50)));
        }
        sent += bytes;
        return !stop;
    }
    const std::size_t bytesPerSecond;
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    std::size_t sent = 0;
};

void Reply(httplib::Response& res, int status, const std::string& text) {
    res.status = status;
    res.set_content(text + "\n", "text/plain");
}

// A strong tag of a file's version: its modification time (to the nanosecond) and size.
std::string EntityTag(const struct stat& info) {
    char text[64];
    std::snprintf(text, sizeof text, "\"%llx.%lx-%llx\"",
                  static_cast<unsigned long long>(info.st_mtim.tv_sec),
                  static_cast<unsigned long>(info.st_mtim.tv_nsec),
                  static_cast<unsigned long long>(info.st_size));
    return text;
}

// "Sun, 06 Nov 1994 08:49:37 GMT".
std::string HttpDate(std::time_t when) {
    std::tm parts{};
    gmtime_r(&when, &parts);
    char text[40];
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &parts);
    return text;
}

// A single "Range: bytes=..." request resolved against a file of `size` bytes.
struct ByteRange {
    enum Kind { kWhole, kPart, kUnsatisfiable } kind = kWhole;
    std::size_t offset = 0;
    std::size_t length = 0;
};

// Only single ranges are honoured; a list of ranges or a header we cannot read
// gets the whole file, which a client must accept.
ByteRange ResolveRange(const std::string& header, std::size_t size) {
    ByteRange range;
    const std::string prefix = "bytes=";
    if (header.compare(0, prefix.size(), prefix) != 0 || header.find(',') != std::string::npos) {
        return range;
    }
    std::string spec = header.substr(prefix.size());
    size_t dash = spec.find('-');
    if (dash == std::string::npos) {
        return range;
    }
    auto number = [](const std::string& text, unsigned long long& value) {
        if (text.empty() || text.size() > 19 ||
            text.find_first_not_of("0123456789") != std::string::npos) {
            return false;
        }
        value = std::stoull(text);
        return true;
    };
    unsigned long long first = 0;
    unsigned long long last = 0;
    std::string firstText = spec.substr(0, dash);
    std::string lastText = spec.substr(dash + 1);
    if (firstText.empty()) {
        // "-n": the last n bytes
        if (!number(lastText, last)) {
            return range;
        }
        if (last == 0 || size == 0) {
            range.kind = ByteRange::kUnsatisfiable;
            return range;
        }
        range.kind = ByteRange::kPart;
        range.length = static_cast<std::size_t>(std::min<unsigned long long>(last, size));
        range.offset = size - range.length;
        return range;
    }
    if (!number(firstText, first) || (!lastText.empty() && !number(lastText, last)) ||
        (!lastText.empty() && last < first)) {
        return range;
    }
    if (first >= size) {
        range.kind = ByteRange::kUnsatisfiable;
        return range;
    }
    unsigned long long end =
        lastText.empty() ? size - 1 : std::min<unsigned long long>(last, size - 1);
    range.kind = ByteRange::kPart;
    range.offset = static_cast<std::size_t>(first);
    range.length = static_cast<std::size_t>(end - first + 1);
    return range;
}

constexpr std::size_t kMaxFormBytes = 64 * 1024;

// Reads a request body of at most `limit` bytes, however it is framed; false
// (and the rest left unread) when it is longer or the read fails.
bool ReadBody(const httplib::ContentReader& reader, std::size_t limit, std::string& body) {
    bool tooLong = false;
    bool read = reader([&](const char* data, std::size_t length) {
        if (length > limit - body.size()) {
            tooLong = true;
            return false;
        }
        body.append(data, length);
        return true;
    });
    return read && !tooLong;
}

bool IsChunked(const std::string& coding) {
    return coding.size() == 7 && strncasecmp(coding.c_str(), "chunked", 7) == 0;
}

// Header values and targets are whatever the sender put there: control bytes
// (and the backslash that escapes them) are written as \xNN, so a log line
// cannot be split, recoloured or cleared on a terminal.
std::string Printable(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (unsigned char c : text) {
        if (c < 0x20 || c == 0x7f || c == '\\') {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", c);
            out += escaped;
        } else {
            out.push_back(static_cast<char>(c));
        }
    }
    return out;
}

bool IsIpAddress(const std::string& text) {
    unsigned char address[sizeof(in6_addr)];
    return inet_pton(AF_INET, text.c_str(), address) == 1 ||
           inet_pton(AF_INET6, text.c_str(), address) == 1;
}

bool IsLoopback(const std::string& address) {
    return address == "localhost" || address == "::1" || address.rfind("127.", 0) == 0;
}

std::string Timestamp() {
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%H:%M:%S", &local);
    return text;
}

}  // namespace

ReleaseServer::ReleaseServer(ServerOptions options) : options_(std::move(options)) {}

ReleaseServer::~ReleaseServer() {
    Stop();
}

void ReleaseServer::Log(const std::string& line) const {
    if (options_.log) {
        options_.log(line);
    }
}

bool ReleaseServer::Start(std::string& error) {
    std::error_code ec;
    if (!fs::is_directory(options_.contentRoot, ec)) {
        error = "content root " + options_.contentRoot.string() + " is not a folder";
        return false;
    }
    fs::create_directories(options_.reportsFolder, ec);
    if (ec || !fs::is_directory(options_.reportsFolder)) {
        error = "cannot create the reports folder " + options_.reportsFolder.string();
        return false;
    }
    if (options_.behindFront && !IsLoopback(options_.address)) {
        error =
            "behind a front server the service listens on loopback only, not " + options_.address;
        return false;
    }
    SSL_CTX* tls = nullptr;
    if (!options_.behindFront) {
        tls = GuardedServer::MakeTlsContext(options_.certificateFile.string(),
                                            options_.privateKeyFile.string());
        if (tls == nullptr) {
            error = "cannot load certificate " + options_.certificateFile.string() + " and key " +
                    options_.privateKeyFile.string();
            return false;
        }
    }
    ConnectionLimits connections = options_.connections;
    if (options_.behindFront) {
        connections.maxConnectionsPerAddress = 0;  // all come from the front, which caps them
    }
    server_ = std::make_unique<GuardedServer>(tls, connections);
    catalog_ = std::make_unique<ReleaseCatalog>(options_.contentRoot,
                                                [this](const std::string& l) { Log(l); });
    content_ = std::make_unique<ContentAccess>(options_.contentRoot, options_.signedStorageMarker,
                                               *catalog_);
    reports_ = std::make_unique<LogReportStore>(options_.reportsFolder, options_.reports);
    reportMemory_ = std::make_unique<MemoryBudget>(options_.reportsInFlightBytes);
    stopping_ = false;
    InstallRoutes();

    // The library's default on Linux is SO_REUSEPORT alone, which lets a second server
    // share a busy port silently yet refuses a restart while old connections linger in
    // TIME_WAIT. SO_REUSEADDR gives the usual behaviour: restart at once, never share.
    server_->set_socket_options([](socket_t sock) {
        int yes = 1;
        setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });

    port_ = options_.port == 0
                ? server_->bind_to_any_port(options_.address)
                : (server_->bind_to_port(options_.address, options_.port) ? options_.port : -1);
    if (port_ <= 0) {
        error = "cannot listen on " + options_.address + ":" + std::to_string(options_.port);
        port_ = 0;
        server_.reset();
        return false;
    }
    server_->WidenBacklog(1024);
    listenEnded_ = false;
    thread_ = std::thread([this] {
        server_->listen_after_bind();
        listenEnded_ = true;
    });
    return true;
}

void ReleaseServer::Stop() {
    if (!thread_.joinable()) {
        return;
    }
    stopping_ = true;  // ends waits for the report budget
    // A stop that comes before the thread has entered its accept loop is not
    // seen by the library, so repeat it until the loop has ended.
    while (!listenEnded_) {
        server_->Shutdown();
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    thread_.join();
}

std::string ReleaseServer::Describe() const {
    std::string text = std::string("listening on ") + (options_.behindFront ? "http" : "https") +
                       "://" + options_.address + ":" + std::to_string(port_) +
                       " (content folder " + options_.contentRoot.string() + ", reports " +
                       options_.reportsFolder.string() + ", signed-storage marker \"" +
                       options_.signedStorageMarker + "\"); releases:";
    auto releases = catalog_ ? catalog_->Snapshot() : nullptr;
    if (!releases || releases->empty()) {
        return text + " none";
    }
    for (const auto& r : *releases) {
        text += " " + r.release + (r.IsSigned(options_.signedStorageMarker) ? " (signed)" : "");
    }
    return text;
}

void ReleaseServer::InstallRoutes() {
    // Bodies are read by the report route alone, which counts them itself: the
    // library's own limit misses chunked bodies.
    server_->set_payload_max_length(options_.maxReportBytes);
    server_->set_keep_alive_max_count(100);

    // Bytes of a report as sent, framing included: its limit again covers the
    // chunk framing of any sane sender and lets a body refused for its length be
    // drained, so that a sender that writes before it reads still sees the 413.
    const std::size_t reportBytesAsSent = 2 * options_.maxReportBytes + 64 * 1024;
    server_->set_pre_routing_handler(
        [reportBytesAsSent](const httplib::Request& req, httplib::Response& res) {
            const bool toService = req.method == "POST" && req.path == kServiceEndpoint;
            GuardedServer::HeaderLinesRead(toService ? reportBytesAsSent : 0);
            // A body framed both by a length and by chunks (or by a coding we do not
            // know) is read one way here and may be read another by a front: refuse
            // it and read nothing more on this connection.
            if ((req.has_header("Transfer-Encoding") &&
                 (req.has_header("Content-Length") ||
                  req.get_header_value_count("Transfer-Encoding") > 1 ||
                  !IsChunked(req.get_header_value("Transfer-Encoding")))) ||
                req.get_header_value_count("Content-Length") > 1) {
                GuardedServer::CloseAfterReply();
                Reply(res, 400, "the body's framing is ambiguous");
                return httplib::Server::HandlerResponse::Handled;
            }
            // Ranges are resolved by the content route itself (single ranges, 416 when
            // unsatisfiable); the library's own range handling misreports lengths.
            const_cast<httplib::Request&>(req).ranges.clear();
            bool hasBody =
                req.has_header("Transfer-Encoding") ||
                (req.has_header("Content-Length") && req.get_header_value("Content-Length") != "0");
            if (hasBody && !toService) {
                GuardedServer::CloseAfterReply();
                Reply(res, 413, "no request body is taken here");
                return httplib::Server::HandlerResponse::Handled;
            }
            if (auto coding = req.get_header_value("Content-Encoding");
                !coding.empty() && coding != "identity") {
                GuardedServer::CloseAfterReply();
                Reply(res, 415, "request bodies are taken without a content coding");
                return httplib::Server::HandlerResponse::Handled;
            }
            return httplib::Server::HandlerResponse::Unhandled;
        });

    server_->set_logger([this](const httplib::Request& req, const httplib::Response& res) {
        std::string line = Timestamp() + " " + ClientAddress(req) + " " + req.method + " " +
                           req.target + " -> " + std::to_string(res.status);
        if (auto method = req.get_header_value("Method"); !method.empty()) {
            line += " [" + method + "]";
        }
        if (res.status >= 400 || req.path == kServiceEndpoint) {
            std::string note = res.body.substr(0, 160);
            while (!note.empty() && (note.back() == '\n' || note.back() == '\r')) {
                note.pop_back();
            }
            if (!note.empty()) {
                line += " " + note;
            }
        }
        Log(Printable(line));
    });

    server_->Post(kServiceEndpoint, [this](const httplib::Request& req, httplib::Response& res,
                                           const httplib::ContentReader& reader) {
        const std::string method = req.get_header_value("Method");
        if (method == "LogErrorInfo") {
            HandleReport(req, res, reader);
            return;
        }
        std::string body;
        if (!ReadBody(reader, kMaxFormBytes, body)) {
            GuardedServer::CloseAfterReply();
            Reply(res, 413, "the form exceeds " + std::to_string(kMaxFormBytes) + " bytes");
            return;
        }
        if (method == "RequestDownload") {
            std::map<std::string, std::string> form;
            if (!ParseFormBody(body, form) || form.count("ReleaseName") == 0) {
                Reply(res, 400, "RequestDownload needs a ReleaseName form field");
                return;
            }
            const std::string& name = form["ReleaseName"];
            std::string reason;
            auto release = CheckReleaseName(name, reason) ? catalog_->Find(name) : std::nullopt;
            nlohmann::ordered_json reply;
            if (!release) {
                reply["error_info"] = "Release " + name + " is not offered.";
            } else {
                reply["product_code"] = release->productCode;
                reply["company_name"] = release->companyName;
                reply["download_subdir"] = release->downloadSubdir;
                reply["host_name"] = release->hostName;
                reply["SAS"] = release->sasToken;
            }
            res.set_content(reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                            "application/json");
            return;
        }
        Reply(res, 400, "unknown Method \"" + method + "\"");
    });

    server_->Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        ContentDecision decision = content_->Decide(req.target, std::time(nullptr));
        if (decision.status != 200) {
            Reply(res, decision.status, decision.reason);
            return;
        }
        int fd = ContentAccess::Open(decision);
        struct stat info {};
        if (fd < 0 || fstat(fd, &info) != 0) {
            if (fd >= 0) {
                close(fd);
            }
            Reply(res, 404, "cannot open the file");
            return;
        }
        auto file = std::make_shared<OpenFile>(fd);
        auto size = static_cast<std::size_t>(info.st_size);
        // The file's version, so a client continuing it can ask for the rest of this very
        // one ("If-Range"); a file replaced since is sent whole.
        const std::string etag = EntityTag(info);
        res.set_header("ETag", etag);
        const std::string modified = HttpDate(info.st_mtime);
        res.set_header("Last-Modified", modified);
        const std::string ifRange = req.get_header_value("If-Range");
        const bool sameVersion = ifRange.empty() || ifRange == etag || ifRange == modified;
        ByteRange range =
            ResolveRange(sameVersion ? req.get_header_value("Range") : std::string(), size);
        if (range.kind == ByteRange::kUnsatisfiable) {
            res.status = 416;
            res.set_header("Content-Range", "bytes */" + std::to_string(size));
            return;
        }
        std::size_t base = 0;
        std::size_t length = size;
        if (range.kind == ByteRange::kPart) {
            base = range.offset;
            length = range.length;
            res.status = 206;
            res.set_header("Content-Range", "bytes " + std::to_string(base) + "-" +
                                                std::to_string(base + length - 1) + "/" +
                                                std::to_string(size));
        }
        res.set_header("Accept-Ranges", "bytes");
        auto pace = std::make_shared<Pace>(options_.paceBytesPerSecond);
        res.set_content_provider(
            length, ContentTypeFor(decision.file),
            [this, file, base, pace](std::size_t offset, std::size_t length,
                                     httplib::DataSink& sink) {
                thread_local std::unique_ptr<char[]> buffer(new char[kContentBlock]);
                std::size_t want = std::min(length, kContentBlock);
                if (pace->bytesPerSecond != 0) {
                    want = std::min(want, std::max<std::size_t>(pace->bytesPerSecond / 20, 4096));
                    if (!pace->WaitForTurn(want, stopping_)) {
                        return false;
                    }
                }
                ssize_t n = pread(file->fd, buffer.get(), want, static_cast<off_t>(base + offset));
                if (n <= 0) {
                    return false;  // the file shrank or failed: end the connection
                }
                return sink.write(buffer.get(), static_cast<std::size_t>(n));
            });
    });
}

std::string ReleaseServer::ClientAddress(const httplib::Request& req) const {
    // Any local process may reach the loopback port: only the front names the client.
    if (options_.behindFront && req.remote_addr == options_.frontAddress) {
        if (auto forwarded = req.get_header_value("X-Real-IP"); IsIpAddress(forwarded)) {
            return forwarded;
        }
    }
    return req.remote_addr;
}

void ReleaseServer::HandleReport(const httplib::Request& req, httplib::Response& res,
                                 const httplib::ContentReader& reader) {
    const std::string client = ClientAddress(req);
    ReportOutcome refusal;
    if (!reports_->Admit(client, refusal)) {
        GuardedServer::CloseAfterReply();
        res.set_header("Retry-After", "60");
        Reply(res, refusal.status, refusal.message);
        return;
    }
    // The body is read only once the memory its decoding may take is free, so
    // large reports sent at once are decoded in turn rather than all together.
    std::size_t announced = options_.maxReportBytes;
    if (auto length = req.get_header_value("Content-Length"); !length.empty()) {
        announced = std::min<std::size_t>(announced, std::strtoull(length.c_str(), nullptr, 10));
    }
    const std::size_t cost =
        reportMemory_->Clamp(ReportMemoryCost(announced, options_.reports.decoding));
    if (!reportMemory_->Take(cost, std::chrono::steady_clock::now() + options_.reportsWait,
                             stopping_)) {
        GuardedServer::CloseAfterReply();
        res.set_header("Retry-After", "30");
        Reply(res, 503, "busy with other reports; try again later");
        return;
    }
    MemoryBudget::Held held(*reportMemory_, cost);
    std::string body;
    if (!ReadBody(reader, options_.maxReportBytes, body)) {
        GuardedServer::CloseAfterReply();
        Reply(res, 413,
              "the report is not read whole within " + std::to_string(options_.maxReportBytes) +
                  " bytes");
        return;
    }
    std::vector<std::pair<std::string, std::string>> headers(req.headers.begin(),
                                                             req.headers.end());
    ReportOutcome outcome = reports_->Store(req.get_header_value("ComputerId"), headers, body,
                                            client, std::chrono::system_clock::now());
    if (outcome.status == 429) {
        res.set_header("Retry-After", "3600");
    }
    Reply(res, outcome.status, outcome.message);
}

}  // namespace Tools
