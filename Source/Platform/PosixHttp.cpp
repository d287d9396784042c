// Http service on libcurl: each request owns one easy handle in a multi handle of its own while it
// runs, driven only inside the caller's calls. Replies are paused when the small read buffer is
// full and uploads are paused until the caller hands over the next piece, so no body is ever held
// whole. A request without a body borrows its multi handle from the pool of persistent
// connections and gives it back when its reply ended cleanly.
#include "Platform/Http.h"

#include <curl/curl.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "Platform/PosixHttpPool.h"
#include "Platform/PosixTlsCloseWatch.h"

namespace Platform {

namespace {

using Clock = std::chrono::steady_clock;

constexpr std::size_t kReadBufferLimit = 64 * 1024;
constexpr std::size_t kRawHeaderLimit = 512 * 1024;
constexpr long kPollMilliseconds = 25;
constexpr long kMaxRedirects = 10;

bool StartLibrary() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] { started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return started;
}

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

// What a request trusts besides the system store: the extra CA bundle tests and the local demo
// use, named as curl's own tool names it, and a key naming that bundle as it is now (name,
// size and time), so a changed bundle is noticed. Taken once per request.
struct Trust {
    std::string file;
    std::string key;

    static Trust Current() {
        Trust trust;
        for (const char* name : {"CURL_CA_BUNDLE", "SSL_CERT_FILE"}) {
            const char* value = std::getenv(name);
            if (value != nullptr && *value != '\0') {
                trust.file = value;
                break;
            }
        }
        struct stat info {};
        trust.key = trust.file;
        if (!trust.file.empty() && ::stat(trust.file.c_str(), &info) == 0)
            trust.key += '\n' + std::to_string(info.st_size) + '\n' +
                         std::to_string(info.st_mtim.tv_sec) + '.' +
                         std::to_string(info.st_mtim.tv_nsec);
        return trust;
    }
};

// The trusted authorities, parsed once per process and shared by every connection: the
// system store libcurl would otherwise parse again for each one (its built-in CA file
// and folder, milliseconds of CPU per connection) plus the extra bundle. A changed
// extra bundle (another name, size or time) builds a new store.
class AuthorityCache {
public:
    // A new reference to the store for `trust`, or null when a bundle cannot be read.
    X509_STORE* Get(const Trust& trust) {
        std::lock_guard<std::mutex> guard(mutex_);
        if (store_ == nullptr || trust.key != key_) {
            X509_STORE* fresh = Build(trust.file);
            if (fresh == nullptr)
                return nullptr;
            if (store_ != nullptr)
                X509_STORE_free(store_);
            store_ = fresh;
            key_ = trust.key;
        }
        X509_STORE_up_ref(store_);
        return store_;
    }

private:
    // libcurl's built-in CA file and folder, as it would load them itself.
    static void SystemLocations(std::string& file, std::string& folder) {
        CURL* probe = curl_easy_init();
        if (probe == nullptr)
            return;
        char* text = nullptr;
        if (curl_easy_getinfo(probe, CURLINFO_CAINFO, &text) == CURLE_OK && text != nullptr)
            file = text;
        text = nullptr;
        if (curl_easy_getinfo(probe, CURLINFO_CAPATH, &text) == CURLE_OK && text != nullptr)
            folder = text;
        curl_easy_cleanup(probe);
    }

    static X509_STORE* Build(const std::string& extraFile) {
        std::string systemFile;
        std::string systemFolder;
        SystemLocations(systemFile, systemFolder);
        X509_STORE* store = X509_STORE_new();
        if (store == nullptr)
            return nullptr;
        bool ok = true;
        if (!systemFile.empty())
            ok = X509_STORE_load_file(store, systemFile.c_str()) == 1;
        if (ok && !systemFolder.empty())
            ok = X509_STORE_load_path(store, systemFolder.c_str()) == 1;
        if (ok && !extraFile.empty())
            ok = X509_STORE_load_file(store, extraFile.c_str()) == 1;
        // The flags libcurl sets on the store it fills itself.
        X509_STORE_set_flags(store, X509_V_FLAG_TRUSTED_FIRST | X509_V_FLAG_PARTIAL_CHAIN);
        if (!ok) {
            ERR_clear_error();
            X509_STORE_free(store);
            return nullptr;
        }
        return store;
    }

    std::mutex mutex_;
    X509_STORE* store_ = nullptr;  // kept for the process's life
    std::string key_;
};

CURLcode UseSharedAuthorities(CURL*, void* context, void* user) {
    // Never destroyed: connections on other threads may still use it at exit.
    static AuthorityCache* const cache = new AuthorityCache();
    X509_STORE* store = cache->Get(*static_cast<const Trust*>(user));
    if (store == nullptr)
        return CURLE_SSL_CACERT_BADFILE;
    SSL_CTX_set_cert_store(static_cast<SSL_CTX*>(context), store);  // takes the reference
    TlsCloseWatch::Install(static_cast<SSL_CTX*>(context));
    return CURLE_OK;
}

std::uint32_t CertificateError(long verifyResult) {
    switch (verifyResult) {
        // The chain verified and curl's own name check (the only later check made here)
        // refused the certificate; curl reports that as "unspecified".
        case X509_V_OK:
        case X509_V_ERR_UNSPECIFIED:
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return HttpError::CertificateNameInvalid;
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
        case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
            return HttpError::CertificateDateInvalid;
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_CERT_UNTRUSTED:
        case X509_V_ERR_INVALID_CA:
            return HttpError::InvalidCertificateAuthority;
        default:
            return HttpError::CertificateErrors;
    }
}

}  // namespace

// ---- Session and connection: settings only ----

struct HttpSession::State {
    bool open = false;
    std::string agent;
    std::uint32_t connectTimeout = 60000;
    std::uint32_t sendTimeout = 30000;
    std::uint32_t receiveTimeout = 30000;
    bool decoding = false;
    HttpCancelCheck cancel;
};

HttpSession::HttpSession() : state_(std::make_unique<State>()) {}
HttpSession::~HttpSession() = default;

bool HttpSession::Open(std::string_view agent) {
    if (!StartLibrary()) {
        lastError_ = HttpError::InternalError;
        return false;
    }
    *state_ = State{};
    state_->open = true;
    state_->agent = agent;
    return true;
}

void HttpSession::Close() {
    *state_ = State{};
}
bool HttpSession::IsOpen() const {
    return state_->open;
}
std::uint32_t HttpSession::LastError() const {
    return lastError_;
}

bool HttpSession::SetConnectTimeout(std::uint32_t milliseconds) {
    if (!state_->open)
        return lastError_ = HttpError::IncorrectHandleState, false;
    state_->connectTimeout = milliseconds;
    return true;
}

bool HttpSession::SetSendTimeout(std::uint32_t milliseconds) {
    if (!state_->open)
        return lastError_ = HttpError::IncorrectHandleState, false;
    state_->sendTimeout = milliseconds;
    return true;
}

bool HttpSession::SetReceiveTimeout(std::uint32_t milliseconds) {
    if (!state_->open)
        return lastError_ = HttpError::IncorrectHandleState, false;
    state_->receiveTimeout = milliseconds;
    return true;
}

bool HttpSession::SetDecoding(bool on) {
    if (!state_->open)
        return lastError_ = HttpError::IncorrectHandleState, false;
    state_->decoding = on;
    return true;
}

void HttpSession::SetCancelCheck(HttpCancelCheck check) {
    state_->cancel = std::move(check);
}

struct HttpConnection::State {
    bool open = false;
    HttpSession::State session;
    std::string host;  // as it goes into a URL (IPv6 literals in brackets)
    std::uint16_t port = 0;
};

HttpConnection::HttpConnection() : state_(std::make_unique<State>()) {}
HttpConnection::~HttpConnection() = default;

namespace {

bool ParsePort(std::string_view text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5)
        return false;
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    port = static_cast<std::uint16_t>(value);
    return true;
}

// Splits "name", "name:port", "[v6]" or "[v6]:port"; a bare IPv6 literal has no port.
bool SplitHost(std::string_view text, std::string& host, std::uint16_t& port) {
    if (text.empty())
        return false;
    if (text.front() == '[') {
        std::size_t close = text.find(']');
        if (close == std::string_view::npos || close == 1)
            return false;
        host = std::string(text.substr(0, close + 1));
        std::string_view rest = text.substr(close + 1);
        if (rest.empty())
            return true;
        return rest.front() == ':' && ParsePort(rest.substr(1), port);
    }
    std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        host = std::string(text);
    } else if (text.find(':', colon + 1) != std::string_view::npos) {
        host = "[" + std::string(text) + "]";
    } else {
        host = std::string(text.substr(0, colon));
        if (host.empty() || !ParsePort(text.substr(colon + 1), port))
            return false;
    }
    return host.find_first_of("/?#@ \r\n\t") == std::string::npos;
}

}  // namespace

bool HttpConnection::Open(const HttpSession& session, std::string_view host, std::uint16_t port) {
    Close();
    if (!session.IsOpen())
        return lastError_ = HttpError::IncorrectHandleState, false;
    std::uint16_t chosen = port;
    if (!SplitHost(host, state_->host, chosen) || chosen == 0) {
        state_->host.clear();
        return lastError_ = HttpError::InvalidUrl, false;
    }
    state_->session = *session.GetState();
    state_->port = chosen;
    state_->open = true;
    return true;
}

void HttpConnection::Close() {
    *state_ = State{};
}
bool HttpConnection::IsOpen() const {
    return state_->open;
}
std::uint32_t HttpConnection::LastError() const {
    return lastError_;
}

// ---- Request ----

struct HttpRequest::State {
    // What Open copied.
    bool open = false;
    HttpSession::State session;
    std::string url;
    std::string verb;
    bool secure = false;
    Trust trust;  // connections made under another trust are not reused

    std::uint32_t lastError = 0;
    std::string lastErrorText;
    char curlError[CURL_ERROR_SIZE] = {};

    // The transfer.
    CURLM* multi = nullptr;
    bool pooled = false;  // multi came from the pool and goes back when the reply ended cleanly
    CURL* easy = nullptr;
    curl_slist* headerList = nullptr;
    bool started = false;
    bool done = false;
    bool failed = false;
    CURLcode result = CURLE_OK;
    bool recvPaused = false;
    bool sendPaused = false;
    bool connected = false;
    bool followRedirects = false;
    Clock::time_point lastActivity;

    // Upload: the caller's piece is only referenced while Send or Write runs.
    bool uploading = false;
    bool readCalled = false;
    std::uint64_t total = 0;
    std::uint64_t sent = 0;
    const unsigned char* pending = nullptr;
    std::size_t pendingSize = 0;

    // Reply.
    std::string block;  // header block being received
    bool headerOverflow = false;
    bool headersDone = false;
    std::string rawHeaders;
    std::uint32_t status = 0;
    std::string statusText;
    std::vector<unsigned char> buffer;
    std::size_t bufferStart = 0;
    // A body without a length over TLS: whole only if the server said close_notify.
    bool endsAtClose = false;
    TlsCloseWatch closeWatch;

    std::size_t Buffered() const { return buffer.size() - bufferStart; }

    bool Fail(std::uint32_t error, std::string text = {}) {
        lastError = error;
        lastErrorText = std::move(text);
        return false;
    }

    void ReleaseTransfer() {
        // A reply read to its end leaves its connection fit for the next request; one cut
        // short would carry the rest of its body into it.
        const bool reusable = pooled && done && result == CURLE_OK && !failed;
        if (easy != nullptr) {
            if (multi != nullptr)
                curl_multi_remove_handle(multi, easy);
            curl_easy_cleanup(easy);
        }
        if (multi != nullptr) {
            if (reusable)
                HttpPool::Give(multi, trust.key);
            else
                curl_multi_cleanup(multi);
        }
        if (headerList != nullptr)
            curl_slist_free_all(headerList);
        closeWatch.Stop();
        easy = nullptr;
        multi = nullptr;
        headerList = nullptr;
    }

    ~State() { ReleaseTransfer(); }

    std::uint32_t MapResult() {
        switch (result) {
            case CURLE_OPERATION_TIMEDOUT:
                return HttpError::Timeout;
            case CURLE_COULDNT_RESOLVE_HOST:
            case CURLE_COULDNT_RESOLVE_PROXY:
                return HttpError::NameNotResolved;
            case CURLE_COULDNT_CONNECT:
                return HttpError::CannotConnect;
            case CURLE_PEER_FAILED_VERIFICATION: {
                long verify = X509_V_OK;
                curl_easy_getinfo(easy, CURLINFO_SSL_VERIFYRESULT, &verify);
                return CertificateError(verify);
            }
            case CURLE_SSL_ISSUER_ERROR:
                return HttpError::InvalidCertificateAuthority;
            case CURLE_SSL_CONNECT_ERROR:
            case CURLE_SSL_ENGINE_NOTFOUND:
            case CURLE_SSL_ENGINE_SETFAILED:
            case CURLE_SSL_CERTPROBLEM:
            case CURLE_SSL_CIPHER:
            case CURLE_SSL_CACERT_BADFILE:
            case CURLE_SSL_SHUTDOWN_FAILED:
            case CURLE_SSL_CRL_BADFILE:
            case CURLE_USE_SSL_FAILED:
                return HttpError::SecureChannelError;
            case CURLE_SEND_ERROR:
            case CURLE_RECV_ERROR: {
                long osError = 0;
                curl_easy_getinfo(easy, CURLINFO_OS_ERRNO, &osError);
                return osError == ECONNRESET ? HttpError::ConnectionReset
                                             : HttpError::ConnectionAborted;
            }
            case CURLE_PARTIAL_FILE:
                return HttpError::ConnectionAborted;
            case CURLE_GOT_NOTHING:
            case CURLE_WEIRD_SERVER_REPLY:
            case CURLE_BAD_CONTENT_ENCODING:
            case CURLE_HTTP2:
            case CURLE_HTTP2_STREAM:
                return HttpError::InvalidServerResponse;
            case CURLE_WRITE_ERROR:
                return headerOverflow ? HttpError::InvalidServerResponse : HttpError::InternalError;
            case CURLE_TOO_MANY_REDIRECTS:
            case CURLE_UNSUPPORTED_PROTOCOL:  // only reachable through a redirect
                return HttpError::RedirectFailed;
            case CURLE_URL_MALFORMAT:
                return HttpError::InvalidUrl;
            case CURLE_OUT_OF_MEMORY:
                return HttpError::NotEnoughMemory;
            case CURLE_ABORTED_BY_CALLBACK:
                return HttpError::OperationCancelled;
            default:
                return HttpError::InternalError;
        }
    }

    bool FailTransfer() {
        failed = true;
        std::string text = curlError[0] != '\0' ? curlError : curl_easy_strerror(result);
        return Fail(MapResult(), std::move(text));
    }

    // Stops the transfer for good after a failure seen on this side (time-out, cancel).
    bool Abandon(std::uint32_t error, std::string text) {
        failed = true;
        ReleaseTransfer();
        return Fail(error, std::move(text));
    }

    void SetPause() {
        int mask = (recvPaused ? CURLPAUSE_RECV : 0) | (sendPaused ? CURLPAUSE_SEND : 0);
        curl_easy_pause(easy, mask);
    }

    // Runs the transfer until `ready` holds or the transfer ends. False when it failed; true
    // with `ready` still false means the transfer ended normally.
    template <typename Ready>
    bool Drive(Ready ready) {
        for (;;) {
            if (ready())
                return true;
            if (failed)
                return false;
            if (done) {
                if (result != CURLE_OK)
                    return FailTransfer();
                if (endsAtClose && !closeWatch.Seen()) {
                    failed = true;
                    return Fail(HttpError::ConnectionAborted,
                                "the connection closed without TLS close_notify before the "
                                "end of a reply without a length");
                }
                return true;
            }
            if (session.cancel && session.cancel())
                return Abandon(HttpError::OperationCancelled, "cancelled by the caller");
            auto now = Clock::now();
            // Idle time counts only while the other side is expected to act.
            std::uint32_t limit = pendingSize > 0 ? session.sendTimeout : session.receiveTimeout;
            bool waitingOnServer = pendingSize > 0 || !recvPaused;
            if (connected && waitingOnServer && limit != 0 &&
                now - lastActivity > std::chrono::milliseconds(limit)) {
                return Abandon(HttpError::Timeout,
                               pendingSize > 0 ? "send time-out" : "receive time-out");
            }
            int running = 0;
            if (curl_multi_perform(multi, &running) != CURLM_OK)
                return Abandon(HttpError::InternalError, "transfer engine failed");
            int queued = 0;
            while (CURLMsg* message = curl_multi_info_read(multi, &queued)) {
                if (message->msg == CURLMSG_DONE) {
                    done = true;
                    result = message->data.result;
                }
            }
            if (!done && !ready())
                curl_multi_poll(multi, nullptr, 0, kPollMilliseconds, nullptr);
        }
    }
};

namespace {

// A reply whose body runs to the connection's close: no length, not chunked, and a status
// and verb that carry a body.
bool BodyEndsAtClose(const HttpRequest::State& s) {
    if (s.verb == "HEAD" || (s.status >= 100 && s.status < 200) || s.status == 204 ||
        s.status == 304)
        return false;
    std::string lower(s.rawHeaders);
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find("\ncontent-length:") != std::string::npos)
        return false;
    std::size_t encoding = lower.find("\ntransfer-encoding:");
    return encoding == std::string::npos ||
           lower.substr(encoding, lower.find('\n', encoding + 1) - encoding).find("chunked") ==
               std::string::npos;
}

void WatchTheEndIfItIsTheClose(HttpRequest::State& s) {
    curl_tlssessioninfo* tls = nullptr;
    if (!s.secure || !BodyEndsAtClose(s) ||
        curl_easy_getinfo(s.easy, CURLINFO_TLS_SSL_PTR, &tls) != CURLE_OK || tls == nullptr ||
        tls->backend != CURLSSLBACKEND_OPENSSL || tls->internals == nullptr)
        return;
    s.endsAtClose = true;
    s.closeWatch.Start(static_cast<SSL*>(tls->internals));
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    auto* s = static_cast<HttpRequest::State*>(user);
    const size_t length = size * count;
    std::string_view line(data, length);
    s->lastActivity = Clock::now();
    if (s->headersDone)
        return length;  // trailers
    if (line.starts_with("HTTP/")) {
        s->block.clear();
        s->status = 0;
        s->statusText.clear();
        std::string_view rest = line.substr(
            line.find(' ') == std::string_view::npos ? line.size() : line.find(' ') + 1);
        std::uint32_t code = 0;
        std::size_t digits = 0;
        while (digits < rest.size() && digits < 3 && rest[digits] >= '0' && rest[digits] <= '9')
            code = code * 10 + static_cast<std::uint32_t>(rest[digits++] - '0');
        s->status = code;
        std::string_view reason = rest.substr(digits);
        while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n'))
            reason.remove_suffix(1);
        s->statusText = std::string(Trim(reason));
    }
    if (s->block.size() + length > kRawHeaderLimit) {
        s->headerOverflow = true;
        return 0;
    }
    s->block.append(line);
    if (line == "\r\n" || line == "\n") {
        bool interim = s->status >= 100 && s->status < 200;
        bool redirect =
            s->followRedirects && (s->status == 301 || s->status == 302 || s->status == 303 ||
                                   s->status == 307 || s->status == 308);
        if (redirect) {
            // curl follows only when the block carries a Location header.
            std::string lower(s->block);
            std::transform(lower.begin(), lower.end(), lower.begin(),
                           [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
            redirect = lower.find("\nlocation:") != std::string::npos;
        }
        if (interim || redirect) {
            s->block.clear();
        } else {
            s->rawHeaders = std::move(s->block);
            s->block.clear();
            s->headersDone = true;
            WatchTheEndIfItIsTheClose(*s);
        }
    }
    return length;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    auto* s = static_cast<HttpRequest::State*>(user);
    const size_t length = size * count;
    s->lastActivity = Clock::now();
    if (s->bufferStart > 0) {
        s->buffer.erase(s->buffer.begin(),
                        s->buffer.begin() + static_cast<std::ptrdiff_t>(s->bufferStart));
        s->bufferStart = 0;
    }
    // An empty buffer always takes the piece, so a piece larger than the limit cannot stall.
    if (!s->buffer.empty() && s->buffer.size() + length > kReadBufferLimit) {
        s->recvPaused = true;
        return CURL_WRITEFUNC_PAUSE;
    }
    // As bytes of the buffer's own type, so the copy is one memmove rather than a loop that
    // converts each char.
    const auto* bytes = reinterpret_cast<const unsigned char*>(data);
    s->buffer.insert(s->buffer.end(), bytes, bytes + length);
    return length;
}

// Called once the connection, new or reused, is ready for the request: from here on the
// server's silences count against the time-outs instead of libcurl's connect time-out.
int OnConnected(void* user, char*, char*, int, int) {
    auto* s = static_cast<HttpRequest::State*>(user);
    s->connected = true;
    s->lastActivity = Clock::now();
    return CURL_PREREQFUNC_OK;
}

size_t OnUpload(char* out, size_t size, size_t count, void* user) {
    auto* s = static_cast<HttpRequest::State*>(user);
    s->readCalled = true;
    if (s->pendingSize == 0) {
        s->sendPaused = true;
        return CURL_READFUNC_PAUSE;
    }
    size_t length = std::min(size * count, s->pendingSize);
    std::memcpy(out, s->pending, length);
    s->pending += length;
    s->pendingSize -= length;
    s->sent += length;
    s->lastActivity = Clock::now();
    return length;
}

// Splits the caller's header text into curl's list. A header curl would add by itself is
// suppressed unless the caller sends it, so the request carries only what the caller asked for.
bool BuildHeaderList(std::string_view text, bool withBody, curl_slist*& list) {
    std::vector<std::string> lines;
    while (!text.empty()) {
        std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.empty())
            continue;
        std::size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0 ||
            line.find('\r') != std::string_view::npos)
            return false;
        std::string_view name = line.substr(0, colon);
        std::string_view value = Trim(line.substr(colon + 1));
        // "Name:" alone would tell curl to drop the header; "Name;" sends it empty.
        lines.push_back(value.empty() ? std::string(name) + ";" : std::string(line));
    }
    auto has = [&lines](std::string_view name) {
        return std::any_of(lines.begin(), lines.end(), [name](const std::string& line) {
            return line.size() > name.size() && EqualsNoCase(line.substr(0, name.size()), name) &&
                   (line[name.size()] == ':' || line[name.size()] == ';');
        });
    };
    std::vector<std::string> suppressed;
    for (std::string_view name : {"Accept", "Accept-Encoding", "Expect"})
        if (!has(name))
            suppressed.push_back(std::string(name) + ":");
    if (withBody && !has("Content-Type"))
        suppressed.push_back("Content-Type:");
    for (const std::string& line : lines)
        list = curl_slist_append(list, line.c_str());
    for (const std::string& line : suppressed)
        list = curl_slist_append(list, line.c_str());
    return true;
}

}  // namespace

HttpRequest::HttpRequest() : state_(std::make_unique<State>()) {}
HttpRequest::~HttpRequest() = default;

bool HttpRequest::Open(const HttpConnection& connection, std::string_view verb,
                       std::string_view objectName, bool secure) {
    Close();
    if (!connection.IsOpen())
        return state_->Fail(HttpError::IncorrectHandleState);
    if (verb.empty() || verb.find_first_of(" \r\n\t") != std::string_view::npos ||
        objectName.find_first_of(" \r\n\t") != std::string_view::npos)
        return state_->Fail(HttpError::InvalidUrl);
    const HttpConnection::State& c = *connection.GetState();
    State& s = *state_;
    s.session = c.session;
    s.verb = verb;
    s.secure = secure;
    s.url = (secure ? "https://" : "http://") + c.host + ":" + std::to_string(c.port);
    if (objectName.empty() || objectName.front() != '/')
        s.url += "/";
    s.url += objectName;
    s.trust = Trust::Current();
    s.open = true;
    return true;
}

void HttpRequest::Close() {
    std::uint32_t lastError = state_->lastError;
    std::string lastErrorText = std::move(state_->lastErrorText);
    state_ = std::make_unique<State>();
    state_->lastError = lastError;
    state_->lastErrorText = std::move(lastErrorText);
}

bool HttpRequest::IsOpen() const {
    return state_->open;
}
std::uint32_t HttpRequest::LastError() const {
    return state_->lastError;
}
std::string HttpRequest::LastErrorText() const {
    return state_->lastErrorText;
}

namespace {

bool StartTransfer(HttpRequest::State& s, std::string_view headers, bool withBody,
                   std::uint64_t total) {
    if (!s.open || s.started)
        return s.Fail(HttpError::IncorrectHandleState);
    if (s.session.cancel && s.session.cancel())
        return s.Fail(HttpError::OperationCancelled, "cancelled by the caller");
    s.started = true;
    if (!BuildHeaderList(headers, withBody, s.headerList)) {
        s.failed = true;
        return s.Fail(HttpError::InvalidParameter, "malformed header text");
    }
    // A request with a body gets a connection of its own: a reused one that turned out closed
    // would need the body sent again, which a streamed upload cannot do.
    s.pooled = !withBody;
    s.multi = s.pooled ? HttpPool::Take(s.trust.key) : curl_multi_init();
    s.easy = curl_easy_init();
    if (s.multi == nullptr || s.easy == nullptr) {
        s.failed = true;
        return s.Fail(HttpError::NotEnoughMemory);
    }
    CURL* e = s.easy;
    curl_easy_setopt(e, CURLOPT_URL, s.url.c_str());
    curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(e, CURLOPT_ERRORBUFFER, s.curlError);
    curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
    curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(e, CURLOPT_SSL_VERIFYHOST, 2L);
    // libcurl loads no authorities itself; the shared store holds the same ones.
    curl_easy_setopt(e, CURLOPT_CAINFO, nullptr);
    curl_easy_setopt(e, CURLOPT_CAPATH, nullptr);
    curl_easy_setopt(e, CURLOPT_SSL_CTX_FUNCTION, UseSharedAuthorities);
    curl_easy_setopt(e, CURLOPT_SSL_CTX_DATA, &s.trust);
    if (!s.session.agent.empty())
        curl_easy_setopt(e, CURLOPT_USERAGENT, s.session.agent.c_str());
    curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(s.session.connectTimeout));
    // Through a proxy (libcurl reads https_proxy, http_proxy and no_proxy) the proxy's own
    // "200 Connection established" must not be taken for the server's reply: a caller would
    // stop sending the body and read the proxy's empty block as the reply's headers.
    curl_easy_setopt(e, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    if (s.session.decoding)
        curl_easy_setopt(e, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(e, CURLOPT_HTTPHEADER, s.headerList);
    curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, OnHeader);
    curl_easy_setopt(e, CURLOPT_HEADERDATA, &s);
    curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, OnBody);
    curl_easy_setopt(e, CURLOPT_WRITEDATA, &s);
    curl_easy_setopt(e, CURLOPT_PREREQFUNCTION, OnConnected);
    curl_easy_setopt(e, CURLOPT_PREREQDATA, &s);
    if (s.verb == "HEAD" && !withBody) {
        curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
    } else if (s.verb == "GET" && !withBody) {
        s.followRedirects = true;
        curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
        curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(e, CURLOPT_MAXREDIRS, kMaxRedirects);
        curl_easy_setopt(e, CURLOPT_REDIR_PROTOCOLS_STR, s.secure ? "https" : "http,https");
    } else {
        curl_easy_setopt(e, CURLOPT_POST, 1L);
        curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(total));
        curl_easy_setopt(e, CURLOPT_READFUNCTION, OnUpload);
        curl_easy_setopt(e, CURLOPT_READDATA, &s);
        if (s.verb != "POST")
            curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, s.verb.c_str());
    }
    s.total = total;
    s.lastActivity = Clock::now();
    if (curl_multi_add_handle(s.multi, e) != CURLM_OK) {
        s.failed = true;
        return s.Fail(HttpError::InternalError);
    }
    return true;
}

bool AwaitHeaders(HttpRequest::State& s) {
    if (!s.Drive([&s] { return s.headersDone; }))
        return false;
    if (!s.headersDone) {
        s.failed = true;
        return s.Fail(HttpError::InvalidServerResponse, "the reply had no headers");
    }
    return true;
}

}  // namespace

bool HttpRequest::Send(std::string_view headers, const void* body, std::size_t size) {
    State& s = *state_;
    bool withBody = size > 0 || (s.verb != "GET" && s.verb != "HEAD");
    if (!StartTransfer(s, headers, withBody, size))
        return false;
    s.pending = static_cast<const unsigned char*>(body);
    s.pendingSize = body != nullptr ? size : 0;
    bool ok = AwaitHeaders(s);
    s.pending = nullptr;
    s.pendingSize = 0;
    return ok;
}

bool HttpRequest::BeginUpload(std::string_view headers, std::uint64_t totalLength) {
    State& s = *state_;
    if (!StartTransfer(s, headers, true, totalLength))
        return false;
    s.uploading = true;
    return s.Drive([&s] { return s.readCalled || s.headersDone; });
}

bool HttpRequest::Write(const void* data, std::size_t size, std::size_t& bytesWritten) {
    State& s = *state_;
    bytesWritten = 0;
    if (s.failed)
        return false;
    if (!s.uploading)
        return s.Fail(HttpError::IncorrectHandleState);
    if (size > s.total - s.sent)
        return s.Fail(HttpError::InvalidParameter, "more than announced");
    if (size == 0)
        return true;
    s.pending = static_cast<const unsigned char*>(data);
    s.pendingSize = size;
    if (s.sendPaused) {
        s.sendPaused = false;
        s.lastActivity = Clock::now();
        s.SetPause();
    }
    bool ok = s.Drive([&s] { return s.pendingSize == 0; });
    std::size_t left = s.pendingSize;
    s.pending = nullptr;
    s.pendingSize = 0;
    if (!ok)
        return false;
    if (left > 0) {
        s.failed = true;
        return s.Fail(HttpError::ConnectionAborted, "the server ended the exchange early");
    }
    bytesWritten = size;
    return true;
}

bool HttpRequest::EndUpload() {
    State& s = *state_;
    if (s.failed)
        return false;
    if (!s.uploading)
        return s.Fail(HttpError::IncorrectHandleState);
    if (s.sent < s.total)
        return s.Abandon(HttpError::IncorrectHandleState, "fewer bytes written than announced");
    s.uploading = false;
    return AwaitHeaders(s);
}

bool HttpRequest::QueryStatusCode(std::uint32_t& status) const {
    if (!state_->headersDone)
        return state_->Fail(HttpError::IncorrectHandleState);
    status = state_->status;
    return true;
}

bool HttpRequest::QueryRawHeaders(std::string& headers) const {
    if (!state_->headersDone)
        return state_->Fail(HttpError::IncorrectHandleState);
    headers = state_->rawHeaders;
    return true;
}

bool HttpRequest::QueryStatusText(std::string& text) const {
    if (!state_->headersDone)
        return state_->Fail(HttpError::IncorrectHandleState);
    text = state_->statusText;
    return true;
}

bool HttpRequest::Read(void* buffer, std::size_t size, std::size_t& bytesRead) {
    State& s = *state_;
    bytesRead = 0;
    if (!s.headersDone)
        return s.Fail(HttpError::IncorrectHandleState);
    if (size == 0)
        return s.Fail(HttpError::InvalidParameter, "empty read buffer");
    if (s.Buffered() == 0) {
        if (s.failed)
            return false;
        if (s.easy == nullptr)
            return s.Fail(HttpError::IncorrectHandleState);
        if (s.recvPaused) {
            s.recvPaused = false;
            s.lastActivity = Clock::now();
            s.SetPause();  // may hand over the piece curl held back
        }
        if (!s.Drive([&s] { return s.Buffered() > 0; }))
            return false;
    }
    std::size_t length = std::min(size, s.Buffered());
    if (length > 0) {
        std::memcpy(buffer, s.buffer.data() + s.bufferStart, length);
        s.bufferStart += length;
        if (s.bufferStart == s.buffer.size()) {
            s.buffer.clear();
            s.bufferStart = 0;
        }
    }
    bytesRead = length;
    return true;
}

}  // namespace Platform
