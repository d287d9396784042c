// Windows backend of Http.h: WinINet, one call per operation. GetLastError of the failed
// call is the error number, so the numbers are WinINet's own. Certificates are checked by
// WinINet against the Windows root store; nothing here can switch that off.
//
// Handles: the session, connection and request each own their WinINet handle through a
// shared holder, because WinINet invalidates child handles when a parent is closed and a
// request must outlive the objects it was made from.
//
// Cancellation: the session is asynchronous. A call that has to wait on the network returns
// at once and reports its end through the status callback; the caller's thread waits for
// that in 50 ms steps that ask the cancel check, and on a cancel closes the request handle
// itself, which ends the call (WinINet's way to abort an operation). Only the thread using
// a request ever closes its handle, so a closed handle value, which Windows reuses at once,
// is never used again. The request then reports OperationCancelled.
#include "Platform/Http.h"

#include <windows.h>
#include <wininet.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <vector>

#include "Platform/SystemError.h"
#include "Platform/Win32Text.h"

namespace Platform {

namespace {

constexpr std::size_t RawHeadersCap = 512 * 1024;

struct InternetHandle {
    explicit InternetHandle(HINTERNET value) : handle(value) {}
    ~InternetHandle() {
        if (handle != nullptr) {
            InternetCloseHandle(handle);
        }
    }
    InternetHandle(const InternetHandle&) = delete;
    InternetHandle& operator=(const InternetHandle&) = delete;
    HINTERNET handle;
};

DWORD WinInetTimeout(std::uint32_t milliseconds) {
    return milliseconds == 0 ? 0xFFFFFFFFu : static_cast<DWORD>(milliseconds);
}

bool SetTimeout(HINTERNET handle, DWORD option, std::uint32_t milliseconds) {
    DWORD value = WinInetTimeout(milliseconds);
    return InternetSetOptionW(handle, option, &value, sizeof value);
}

// The error of the WinINet call that just failed; never 0, so a failure is never logged as
// success.
std::uint32_t FailedCallError() {
    const DWORD error = GetLastError();
    return error != 0 ? error : HttpError::InternalError;
}

bool ParsePort(std::string_view text, std::uint16_t& port) {
    if (text.empty() || text.size() > 5) {
        return false;
    }
    unsigned value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(c - '0');
    }
    if (value == 0 || value > 65535) {
        return false;
    }
    port = static_cast<std::uint16_t>(value);
    return true;
}

// Splits "name", "name:port", "[v6]" or "[v6]:port" (a bare IPv6 literal has no port).
// WinINet takes IPv6 literals without their brackets.
bool SplitHost(std::string_view text, std::string& host, std::uint16_t& port) {
    if (text.empty()) {
        return false;
    }
    if (text.front() == '[') {
        const std::size_t close = text.find(']');
        if (close == std::string_view::npos || close == 1) {
            return false;
        }
        host = std::string(text.substr(1, close - 1));
        const std::string_view rest = text.substr(close + 1);
        return rest.empty() || (rest.front() == ':' && ParsePort(rest.substr(1), port));
    }
    const std::size_t colon = text.find(':');
    if (colon == std::string_view::npos) {
        host = std::string(text);
    } else if (text.find(':', colon + 1) != std::string_view::npos) {
        host = std::string(text);
    } else {
        host = std::string(text.substr(0, colon));
        if (host.empty() || !ParsePort(text.substr(colon + 1), port)) {
            return false;
        }
    }
    return host.find_first_of("/?#@[] \r\n\t") == std::string::npos;
}

}  // namespace

namespace {

// Where WinINet reports a call that went on in the background. It also holds everything
// such a call reads or writes (headers, body pieces, counts), because a call cut short by
// closing its handle may still touch them: it lives until WinINet says the handle is
// closing, which is the last word WinINet says about it, and is freed there.
struct Completion {
    HANDLE done = CreateEventW(nullptr, FALSE, FALSE, nullptr);  // auto-reset
    bool ok = false;                                             // set before `done`
    DWORD error = 0;
    std::wstring headers;
    std::vector<char> bytes;
    INTERNET_BUFFERSW buffers{};
    DWORD count = 0;
    bool background = false;  // the last call went on in the background

    ~Completion() {
        if (done != nullptr) {
            CloseHandle(done);
        }
    }
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD) {
    if (context == 0) {
        return;  // the session's and the connections' own handles
    }
    auto* completion = reinterpret_cast<Completion*>(context);
    if (status == INTERNET_STATUS_REQUEST_COMPLETE && info != nullptr) {
        const auto* result = static_cast<const INTERNET_ASYNC_RESULT*>(info);
        completion->ok = result->dwResult != 0;
        completion->error = result->dwError;
        SetEvent(completion->done);
    } else if (status == INTERNET_STATUS_HANDLE_CLOSING) {
        delete completion;
    }
}

}  // namespace

// ---- Session ----

struct HttpSession::State {
    std::shared_ptr<InternetHandle> internet;
    std::uint32_t connectTimeout = 60000;
    std::uint32_t sendTimeout = 30000;
    std::uint32_t receiveTimeout = 30000;
    bool decoding = false;
    HttpCancelCheck cancel;
};

HttpSession::HttpSession() : state_(std::make_unique<State>()) {}
HttpSession::~HttpSession() = default;

bool HttpSession::Open(std::string_view agent) {
    Close();
    // Asynchronous, so that every wait on the network happens in steps on the caller's
    // own thread, which can then cancel by closing its own handle.
    const HINTERNET handle =
        InternetOpenW(Win32::WidenUtf8(agent).c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr,
                      nullptr, INTERNET_FLAG_ASYNC);
    if (handle == nullptr) {
        lastError_ = FailedCallError();
        return false;
    }
    state_->internet = std::make_shared<InternetHandle>(handle);
    // Connections and requests made from the session report through this callback.
    if (InternetSetStatusCallbackW(handle, OnStatus) == INTERNET_INVALID_STATUS_CALLBACK) {
        lastError_ = FailedCallError();
        state_->internet.reset();
        return false;
    }
    SetConnectTimeout(state_->connectTimeout);
    SetSendTimeout(state_->sendTimeout);
    SetReceiveTimeout(state_->receiveTimeout);
    return true;
}

void HttpSession::Close() {
    state_->internet.reset();
}

bool HttpSession::IsOpen() const {
    return state_->internet != nullptr;
}

bool HttpSession::SetConnectTimeout(std::uint32_t milliseconds) {
    if (!IsOpen()) {
        return lastError_ = HttpError::IncorrectHandleState, false;
    }
    state_->connectTimeout = milliseconds;
    if (!SetTimeout(state_->internet->handle, INTERNET_OPTION_CONNECT_TIMEOUT, milliseconds)) {
        return lastError_ = FailedCallError(), false;
    }
    return true;
}

bool HttpSession::SetSendTimeout(std::uint32_t milliseconds) {
    if (!IsOpen()) {
        return lastError_ = HttpError::IncorrectHandleState, false;
    }
    state_->sendTimeout = milliseconds;
    if (!SetTimeout(state_->internet->handle, INTERNET_OPTION_SEND_TIMEOUT, milliseconds)) {
        return lastError_ = FailedCallError(), false;
    }
    return true;
}

bool HttpSession::SetReceiveTimeout(std::uint32_t milliseconds) {
    if (!IsOpen()) {
        return lastError_ = HttpError::IncorrectHandleState, false;
    }
    state_->receiveTimeout = milliseconds;
    if (!SetTimeout(state_->internet->handle, INTERNET_OPTION_RECEIVE_TIMEOUT, milliseconds)) {
        return lastError_ = FailedCallError(), false;
    }
    return true;
}

bool HttpSession::SetDecoding(bool on) {
    if (!IsOpen()) {
        return lastError_ = HttpError::IncorrectHandleState, false;
    }
    state_->decoding = on;
    return true;
}

void HttpSession::SetCancelCheck(HttpCancelCheck check) {
    state_->cancel = std::move(check);
}

std::uint32_t HttpSession::LastError() const {
    return lastError_;
}

// ---- Connection ----

struct HttpConnection::State {
    HttpSession::State session;
    std::shared_ptr<InternetHandle> connect;
};

HttpConnection::HttpConnection() : state_(std::make_unique<State>()) {}
HttpConnection::~HttpConnection() = default;

bool HttpConnection::Open(const HttpSession& session, std::string_view host, std::uint16_t port) {
    Close();
    if (!session.IsOpen()) {
        return lastError_ = HttpError::IncorrectHandleState, false;
    }
    std::string name;
    std::uint16_t chosen = port;
    if (!SplitHost(host, name, chosen) || chosen == 0) {
        return lastError_ = HttpError::InvalidUrl, false;
    }
    const HttpSession::State& from = *session.GetState();
    const HINTERNET handle =
        InternetConnectW(from.internet->handle, Win32::WidenUtf8(name).c_str(), chosen, nullptr,
                         nullptr, INTERNET_SERVICE_HTTP, 0, 0);
    if (handle == nullptr) {
        lastError_ = GetLastError();
        return false;
    }
    state_->session = from;
    state_->connect = std::make_shared<InternetHandle>(handle);
    return true;
}

void HttpConnection::Close() {
    *state_ = State{};
}

bool HttpConnection::IsOpen() const {
    return state_->connect != nullptr;
}

std::uint32_t HttpConnection::LastError() const {
    return lastError_;
}

// ---- Request ----

struct HttpRequest::State {
    HttpSession::State session;
    std::shared_ptr<InternetHandle> connect;

    // The request handle and its completion; only the thread that uses the request opens
    // and closes them, so a handle value is never used after it was closed (Windows hands
    // closed values out again at once).
    HINTERNET request = nullptr;
    Completion* completion = nullptr;

    enum class Phase { Closed, Opened, Uploading, Replied } phase = Phase::Closed;
    std::string verb;
    std::uint64_t received = 0;  // body bytes Read has handed over
    std::uint64_t uploadTotal = 0;
    std::uint64_t uploaded = 0;
    std::uint32_t lastError = 0;
    bool cancelled = false;

    bool Fail(std::uint32_t error) {
        lastError = error;
        return false;
    }

    // Closes the request handle; a call still going on in the background ends with it, and
    // its completion is freed when WinINet lets go of it.
    void CloseRequest() {
        if (request != nullptr) {
            const HINTERNET handle = request;
            request = nullptr;
            completion = nullptr;  // WinINet's from here on
            InternetCloseHandle(handle);
        } else if (completion != nullptr) {
            delete completion;
            completion = nullptr;
        }
    }

    bool CancelRequested() const { return session.cancel && session.cancel(); }

    // Runs one WinINet call. One that goes on in the background is waited for in 50 ms
    // steps that ask the cancel check; a cancel closes the request here, on its own thread.
    template <typename Call>
    bool Run(Call&& call) {
        if (request == nullptr) {
            return Fail(cancelled ? HttpError::OperationCancelled
                                  : HttpError::IncorrectHandleState);
        }
        if (CancelRequested()) {
            return Cancel();
        }
        completion->background = false;
        if (call(request, *completion)) {
            return true;
        }
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            return Fail(error != 0 ? error : HttpError::InternalError);
        }
        completion->background = true;
        for (;;) {
            const DWORD waited = WaitForSingleObject(completion->done, 50);
            if (waited == WAIT_OBJECT_0) {
                break;
            }
            if (waited != WAIT_TIMEOUT) {
                const std::uint32_t failure = FailedCallError();
                CloseRequest();
                return Fail(failure);
            }
            if (CancelRequested()) {
                return Cancel();
            }
        }
        if (!completion->ok) {
            return Fail(completion->error != 0 ? completion->error : HttpError::InternalError);
        }
        return true;
    }

    bool Cancel() {
        cancelled = true;
        CloseRequest();
        return Fail(HttpError::OperationCancelled);
    }
};

HttpRequest::HttpRequest() : state_(std::make_unique<State>()) {}

HttpRequest::~HttpRequest() {
    Close();
}

bool HttpRequest::Open(const HttpConnection& connection, std::string_view verb,
                       std::string_view objectName, bool secure) {
    Close();
    State& state = *state_;
    if (!connection.IsOpen()) {
        return state.Fail(HttpError::IncorrectHandleState);
    }
    if (verb.empty() || verb.find_first_of(" \r\n\t") != std::string_view::npos ||
        objectName.find_first_of(" \r\n\t") != std::string_view::npos) {
        return state.Fail(HttpError::InvalidUrl);
    }
    std::string object(objectName);
    if (object.empty() || object.front() != '/') {
        object.insert(object.begin(), '/');
    }
    const HttpConnection::State& from = *connection.GetState();
    DWORD flags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_PRAGMA_NOCACHE |
                  INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI;
    if (secure) {
        flags |= INTERNET_FLAG_SECURE;
    }
    auto* completion = new Completion();
    if (completion->done == nullptr) {
        delete completion;
        return state.Fail(FailedCallError());
    }
    const HINTERNET handle = HttpOpenRequestW(
        from.connect->handle, Win32::WidenUtf8(verb).c_str(), Win32::WidenUtf8(object).c_str(),
        nullptr, nullptr, nullptr, flags, reinterpret_cast<DWORD_PTR>(completion));
    if (handle == nullptr) {
        const std::uint32_t error = FailedCallError();
        delete completion;
        return state.Fail(error);
    }
    state.session = from.session;
    state.connect = from.connect;
    state.request = handle;
    state.completion = completion;
    state.verb = std::string(verb);
    state.received = 0;
    state.cancelled = false;
    SetTimeout(handle, INTERNET_OPTION_CONNECT_TIMEOUT, state.session.connectTimeout);
    SetTimeout(handle, INTERNET_OPTION_SEND_TIMEOUT, state.session.sendTimeout);
    SetTimeout(handle, INTERNET_OPTION_RECEIVE_TIMEOUT, state.session.receiveTimeout);
    BOOL decode = state.session.decoding ? TRUE : FALSE;
    InternetSetOptionW(handle, INTERNET_OPTION_HTTP_DECODING, &decode, sizeof decode);
    state.phase = State::Phase::Opened;
    return true;
}

void HttpRequest::Close() {
    State& state = *state_;
    state.CloseRequest();
    state.connect.reset();
    state.session = HttpSession::State{};
    state.phase = State::Phase::Closed;
    state.verb.clear();
    state.received = 0;
    state.uploadTotal = 0;
    state.uploaded = 0;
}

bool HttpRequest::IsOpen() const {
    return state_->phase != State::Phase::Closed;
}

bool HttpRequest::Send(std::string_view headers, const void* body, std::size_t size) {
    State& state = *state_;
    if (state.phase != State::Phase::Opened) {
        return state.Fail(HttpError::IncorrectHandleState);
    }
    if (size > 0xFFFFFFFFu) {
        return state.Fail(HttpError::InvalidParameter);
    }
    const bool ok = state.Run([&](HINTERNET handle, Completion& completion) {
        completion.headers = Win32::WidenUtf8(headers);
        const auto* bytes = static_cast<const char*>(body);
        completion.bytes.assign(bytes, bytes + (body != nullptr ? size : 0));
        return HttpSendRequestW(handle,
                                completion.headers.empty() ? nullptr : completion.headers.c_str(),
                                static_cast<DWORD>(completion.headers.size()),
                                completion.bytes.empty() ? nullptr : completion.bytes.data(),
                                static_cast<DWORD>(completion.bytes.size()));
    });
    if (ok) {
        state.phase = State::Phase::Replied;
    }
    return ok;
}

bool HttpRequest::BeginUpload(std::string_view headers, std::uint64_t totalLength) {
    State& state = *state_;
    if (state.phase != State::Phase::Opened) {
        return state.Fail(HttpError::IncorrectHandleState);
    }
    // dwBufferTotal is 32 bits; a longer body announces its length in a header line.
    std::string lines(headers);
    DWORD total = 0;
    if (totalLength > 0xFFFFFFFFu) {
        if (!lines.empty() && lines.size() >= 2 && lines.substr(lines.size() - 2) != "\r\n") {
            lines += "\r\n";
        }
        lines += "Content-Length: " + std::to_string(totalLength) + "\r\n";
    } else {
        total = static_cast<DWORD>(totalLength);
    }
    const bool ok = state.Run([&](HINTERNET handle, Completion& completion) {
        completion.headers = Win32::WidenUtf8(lines);
        completion.buffers = INTERNET_BUFFERSW{};
        completion.buffers.dwStructSize = sizeof completion.buffers;
        completion.buffers.dwBufferTotal = total;
        completion.buffers.lpcszHeader =
            completion.headers.empty() ? nullptr : completion.headers.c_str();
        completion.buffers.dwHeadersLength = static_cast<DWORD>(completion.headers.size());
        return HttpSendRequestExW(handle, &completion.buffers, nullptr, HSR_INITIATE, 0);
    });
    if (ok) {
        state.phase = State::Phase::Uploading;
        state.uploadTotal = totalLength;
        state.uploaded = 0;
    }
    return ok;
}

bool HttpRequest::Write(const void* data, std::size_t size, std::size_t& bytesWritten) {
    bytesWritten = 0;
    State& state = *state_;
    if (state.phase != State::Phase::Uploading) {
        return state.Fail(HttpError::IncorrectHandleState);
    }
    if (size > state.uploadTotal - state.uploaded) {
        return state.Fail(HttpError::InvalidParameter);
    }
    const auto* bytes = static_cast<const char*>(data);
    while (bytesWritten < size) {
        const std::size_t piece = std::min<std::size_t>(size - bytesWritten, 1u << 20);
        const bool ok = state.Run([&](HINTERNET handle, Completion& completion) {
            completion.bytes.assign(bytes + bytesWritten, bytes + bytesWritten + piece);
            completion.count = 0;
            return InternetWriteFile(handle, completion.bytes.data(), static_cast<DWORD>(piece),
                                     &completion.count);
        });
        if (!ok) {
            return false;
        }
        // A write finished in the background has sent the whole piece.
        const DWORD put = state.completion->background && state.completion->count == 0
                              ? static_cast<DWORD>(piece)
                              : state.completion->count;
        if (put == 0) {
            return state.Fail(HttpError::ConnectionAborted);
        }
        bytesWritten += put;
        state.uploaded += put;
    }
    return true;
}

bool HttpRequest::EndUpload() {
    State& state = *state_;
    if (state.phase != State::Phase::Uploading) {
        return state.Fail(HttpError::IncorrectHandleState);
    }
    if (state.uploaded != state.uploadTotal) {
        // Ending a short body would leave the server waiting: the request is abandoned.
        state.CloseRequest();
        state.phase = State::Phase::Opened;
        return state.Fail(HttpError::IncorrectHandleState);
    }
    const bool ok = state.Run(
        [](HINTERNET handle, Completion&) { return HttpEndRequestW(handle, nullptr, 0, 0); });
    if (ok) {
        state.phase = State::Phase::Replied;
    }
    return ok;
}

bool HttpRequest::QueryStatusCode(std::uint32_t& status) const {
    status = 0;
    State& state = *state_;
    if (state.phase != State::Phase::Replied) {
        return state.Fail(HttpError::IncorrectHandleState);
    }
    DWORD value = 0;
    DWORD length = sizeof value;
    if (state.request == nullptr ||
        !HttpQueryInfoW(state.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &value,
                        &length, nullptr)) {
        return state.Fail(state.request == nullptr ? HttpError::IncorrectHandleState
                                                   : GetLastError());
    }
    status = value;
    return true;
}

namespace {

bool QueryText(HINTERNET request, DWORD level, std::size_t cap, std::wstring& text, DWORD& error) {
    DWORD length = 0;
    if (HttpQueryInfoW(request, level, nullptr, &length, nullptr)) {
        text.clear();
        return true;
    }
    error = GetLastError();
    if (error == ERROR_HTTP_HEADER_NOT_FOUND) {
        text.clear();
        return true;
    }
    if (error != ERROR_INSUFFICIENT_BUFFER) {
        return false;
    }
    if (length / sizeof(wchar_t) > cap) {
        error = HttpError::InvalidServerResponse;
        return false;
    }
    text.assign(length / sizeof(wchar_t) + 1, L'\0');
    length = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (!HttpQueryInfoW(request, level, text.data(), &length, nullptr)) {
        error = GetLastError();
        return false;
    }
    text.resize(length / sizeof(wchar_t));
    return true;
}

// A text of the reply (HTTP_QUERY_*), as UTF-8, at most `cap` bytes.
bool QueryReplyText(HttpRequest::State& state, DWORD what, DWORD cap, std::string& out) {
    out.clear();
    if (state.phase != HttpRequest::State::Phase::Replied) {
        return state.Fail(HttpError::IncorrectHandleState);
    }
    if (state.request == nullptr) {
        return state.Fail(HttpError::IncorrectHandleState);
    }
    std::wstring text;
    DWORD error = 0;
    if (!QueryText(state.request, what, cap, text, error)) {
        return state.Fail(error);
    }
    out = Win32::NarrowToUtf8(text);
    return true;
}

}  // namespace

bool HttpRequest::QueryRawHeaders(std::string& headers) const {
    return QueryReplyText(*state_, HTTP_QUERY_RAW_HEADERS_CRLF, RawHeadersCap, headers);
}

bool HttpRequest::QueryStatusText(std::string& text) const {
    return QueryReplyText(*state_, HTTP_QUERY_STATUS_TEXT, 4096, text);
}

namespace {

// The reply's Content-Length, when it has one that the body must fill: not for HEAD, 1xx,
// 204 or 304, and not when WinINet decodes the body (the length counts the encoded bytes).
bool LengthTheBodyMustFill(HttpRequest::State& state, std::uint64_t& length) {
    if (state.verb == "HEAD") {
        return false;
    }
    if (state.request == nullptr) {
        return false;
    }
    DWORD status = 0;
    DWORD size = sizeof status;
    if (HttpQueryInfoW(state.request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status,
                       &size, nullptr) &&
        (status < 200 || status == 204 || status == 304)) {
        return false;
    }
    std::wstring text;
    DWORD error = 0;
    if (state.session.decoding) {
        if (!QueryText(state.request, HTTP_QUERY_CONTENT_ENCODING, 4096, text, error) ||
            (!text.empty() && text != L"identity")) {
            return false;
        }
    }
    if (!QueryText(state.request, HTTP_QUERY_CONTENT_LENGTH, 64, text, error) || text.empty()) {
        return false;
    }
    std::uint64_t value = 0;
    for (const wchar_t c : text) {
        if (c < L'0' || c > L'9' || value > (UINT64_MAX - 9) / 10) {
            return false;
        }
        value = value * 10 + static_cast<std::uint64_t>(c - L'0');
    }
    length = value;
    return true;
}

}  // namespace

// Reads what has arrived (at least one byte, waiting for it when none has), so a slow reply
// hands over its bytes as they come instead of after a whole buffer's worth. WinINet reports
// a connection closed early as a clean end; the announced length tells the two apart.
bool HttpRequest::Read(void* buffer, std::size_t size, std::size_t& bytesRead) {
    bytesRead = 0;
    State& state = *state_;
    if (state.phase != State::Phase::Replied) {
        return state.Fail(HttpError::IncorrectHandleState);
    }
    if (size == 0) {
        return true;
    }
    // Waits (in the background, asking the cancel check) until something has arrived or
    // the reply ended; asked again once the wait is over, the count is then at hand.
    DWORD available = 0;
    for (;;) {
        if (!state.Run([&](HINTERNET handle, Completion& completion) {
                completion.count = 0;
                return InternetQueryDataAvailable(handle, &completion.count, 0, 0);
            })) {
            return false;
        }
        available = state.completion->count;
        if (!state.completion->background) {
            break;
        }
    }
    DWORD got = 0;
    if (available > 0) {
        const DWORD piece = static_cast<DWORD>(
            std::min<std::size_t>({size, static_cast<std::size_t>(available), 1u << 30}));
        if (!state.Run([&](HINTERNET handle, Completion& completion) {
                completion.bytes.resize(piece);
                completion.count = 0;
                return InternetReadFile(handle, completion.bytes.data(), piece, &completion.count);
            })) {
            return false;
        }
        got = std::min(state.completion->count, piece);
        std::memcpy(buffer, state.completion->bytes.data(), got);
    }
    if (got == 0) {
        std::uint64_t announced = 0;
        if (LengthTheBodyMustFill(state, announced) && state.received < announced) {
            return state.Fail(HttpError::ConnectionAborted);
        }
        return true;
    }
    state.received += got;
    bytesRead = got;
    return true;
}

std::uint32_t HttpRequest::LastError() const {
    return state_->lastError;
}

std::string HttpRequest::LastErrorText() const {
    return state_->lastError == 0 ? std::string()
                                  : SystemErrorText(static_cast<int>(state_->lastError));
}

}  // namespace Platform
