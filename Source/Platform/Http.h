// HTTP(S) client service: sessions, connections and requests with header text, optional or
// streamed request bodies, reply status and raw headers, and reads of the body in the caller's
// piece size. Failures are reported as WinINet error numbers (HttpError) on every platform.
//
// Note for whoever writes another backend (Win32Http.cpp and the like):
//   Implement the three classes below with the same observable behaviour. On Windows each call
//   is a direct WinINet call:
//     HttpSession::Open        InternetOpenW(agent, INTERNET_OPEN_TYPE_PRECONFIG, ...)
//     HttpSession::Set*Timeout InternetSetOptionW(INTERNET_OPTION_{CONNECT,SEND,RECEIVE}_TIMEOUT)
//     HttpSession::SetDecoding InternetSetOptionW(INTERNET_OPTION_HTTP_DECODING)
//     HttpConnection::Open     InternetConnectW(session, host, port, INTERNET_SERVICE_HTTP)
//     HttpRequest::Open        HttpOpenRequestW(verb, object, INTERNET_FLAG_NO_CACHE_WRITE |
//                              INTERNET_FLAG_PRAGMA_NOCACHE [| INTERNET_FLAG_SECURE])
//     HttpRequest::Send        HttpSendRequestW(headers, body)
//     HttpRequest::BeginUpload HttpSendRequestExW with INTERNET_BUFFERSW.dwBufferTotal = length
//     HttpRequest::Write       InternetWriteFile
//     HttpRequest::EndUpload   HttpEndRequestW
//     HttpRequest::Query*      HttpQueryInfoW(STATUS_CODE | FLAG_NUMBER, RAW_HEADERS_CRLF,
//                              STATUS_TEXT)
//     HttpRequest::Read        InternetQueryDataAvailable, then InternetReadFile of at most that
//                              much; at the end the bytes read are held against Content-Length
//                              (WinINet ends a cut reply with TRUE and 0 bytes)
//     Close                    InternetCloseHandle
//   and LastError() is GetLastError() of the failed call. The cancellation check must be honoured
//   within about 100 ms in every call that waits on the network (on Windows: run the blocking
//   call with the session's time-outs and close the request handle from a watchdog when the
//   check turns true; a call that was cancelled reports OperationCancelled).
//   Rules every backend keeps:
//   - Server certificates are always verified (system store plus the extra bundle named by the
//     CURL_CA_BUNDLE or SSL_CERT_FILE environment variable); there is no switch to turn that off.
//     A refused certificate reports CertificateDateInvalid, CertificateNameInvalid,
//     InvalidCertificateAuthority or CertificateErrors; a failed handshake SecureChannelError.
//   - Proxies come from the system settings (on Linux the standard environment variables).
//   - Memory is bounded: the body is pulled through a small buffer, uploads are pushed from the
//     caller's pieces, and no whole body is ever held here.
//   - The connect time-out bounds name resolution, TCP and TLS set-up; the send time-out bounds
//     how long an upload piece may wait to be taken; the receive time-out bounds how long the
//     server may stay silent while a reply (headers or body) is awaited. Time spent while the
//     caller does not call Read does not count.
//   - Redirects of GET requests are followed (at most 10, never from https to http).
//   Text is narrow, in the system code page (UTF-8 on Linux); a Windows backend widens it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace Platform {

// Error numbers reported by LastError(). WinINet's numbering, so logs and the service's failure
// counts read the same on every platform.
namespace HttpError {
inline constexpr std::uint32_t NotEnoughMemory = 8;
inline constexpr std::uint32_t InvalidParameter = 87;
inline constexpr std::uint32_t Timeout = 12002;
inline constexpr std::uint32_t InternalError = 12004;
inline constexpr std::uint32_t InvalidUrl = 12005;
inline constexpr std::uint32_t NameNotResolved = 12007;
inline constexpr std::uint32_t OperationCancelled = 12017;
inline constexpr std::uint32_t IncorrectHandleState = 12019;
inline constexpr std::uint32_t CannotConnect = 12029;
inline constexpr std::uint32_t ConnectionAborted = 12030;
inline constexpr std::uint32_t ConnectionReset = 12031;
inline constexpr std::uint32_t CertificateDateInvalid = 12037;
inline constexpr std::uint32_t CertificateNameInvalid = 12038;
inline constexpr std::uint32_t InvalidCertificateAuthority = 12045;
inline constexpr std::uint32_t InvalidServerResponse = 12152;
inline constexpr std::uint32_t RedirectFailed = 12156;
inline constexpr std::uint32_t SecureChannelError = 12157;
inline constexpr std::uint32_t CertificateErrors = 12175;
}  // namespace HttpError

// Polled while a call waits on the network; returning true ends the call within about 100 ms
// with HttpError::OperationCancelled. Typically "the owning thread was asked to stop".
using HttpCancelCheck = std::function<bool()>;

// Settings shared by the connections and requests made from it. Opening does no network work.
class HttpSession {
public:
    HttpSession();
    ~HttpSession();
    HttpSession(const HttpSession&) = delete;
    HttpSession& operator=(const HttpSession&) = delete;

    // Starts a session whose requests send `agent` as User-Agent (unless the request's own
    // header text has one). False only when the backend cannot start (NotEnoughMemory,
    // InternalError).
    bool Open(std::string_view agent);
    void Close();
    bool IsOpen() const;

    // Time-outs in milliseconds; 0 means no limit. Defaults: connect 60000, send and receive
    // 30000. False (IncorrectHandleState) when the session is not open.
    bool SetConnectTimeout(std::uint32_t milliseconds);
    bool SetSendTimeout(std::uint32_t milliseconds);
    bool SetReceiveTimeout(std::uint32_t milliseconds);
    // When on, replies with Content-Encoding gzip or deflate are decoded before Read hands the
    // bytes out. It does not add an Accept-Encoding header: the caller sends what it accepts.
    bool SetDecoding(bool on);
    // Installs the cancellation check used by every request opened afterwards.
    void SetCancelCheck(HttpCancelCheck check);

    std::uint32_t LastError() const;

    struct State;
    const State* GetState() const { return state_.get(); }

private:
    std::unique_ptr<State> state_;
    std::uint32_t lastError_ = 0;
};

// A server of a session. `host` may carry ":port" (or "[v6]:port"), which then wins over `port`.
// Opening does no network work; a host that cannot be reached shows up when a request is sent.
class HttpConnection {
public:
    HttpConnection();
    ~HttpConnection();
    HttpConnection(const HttpConnection&) = delete;
    HttpConnection& operator=(const HttpConnection&) = delete;

    // False: IncorrectHandleState (session not open) or InvalidUrl (empty host, bad port).
    bool Open(const HttpSession& session, std::string_view host, std::uint16_t port);
    void Close();
    bool IsOpen() const;
    std::uint32_t LastError() const;

    struct State;
    const State* GetState() const { return state_.get(); }

private:
    std::unique_ptr<State> state_;
    std::uint32_t lastError_ = 0;
};

// One exchange. Order of use: Open; then Send, or BeginUpload + Write... + EndUpload; then the
// queries and Read until it gives 0 bytes; Close (or destroy). The request copies what it needs
// from its connection and session, so those may be closed first.
class HttpRequest {
public:
    HttpRequest();
    ~HttpRequest();
    HttpRequest(const HttpRequest&) = delete;
    HttpRequest& operator=(const HttpRequest&) = delete;

    // `verb` is sent as given ("GET", "POST", ...); `objectName` is the path with its query.
    // `secure` selects https. False: IncorrectHandleState (connection not open) or InvalidUrl.
    bool Open(const HttpConnection& connection, std::string_view verb, std::string_view objectName,
              bool secure);
    void Close();
    bool IsOpen() const;

    // Sends the request with `headers` (lines "Name: value" separated by CRLF; a trailing CRLF
    // is allowed) and `size` body bytes, then waits for the reply's headers. The body is not
    // needed after the call. On the wire: Host, User-Agent, the given lines in their order,
    // then Content-Length when the verb carries a body; nothing else is added.
    // Errors: NameNotResolved, CannotConnect, Timeout, SecureChannelError, the certificate
    // numbers, ConnectionAborted, ConnectionReset, InvalidServerResponse, RedirectFailed,
    // OperationCancelled, IncorrectHandleState (not open or already sent).
    bool Send(std::string_view headers, const void* body = nullptr, std::size_t size = 0);

    // Streamed upload of exactly `totalLength` bytes (sent as Content-Length). BeginUpload
    // connects and sends the headers; each Write hands over one piece and returns when the
    // layer has taken it (bytesWritten = size); EndUpload waits for the reply's headers.
    // Write fails with InvalidParameter when the pieces would exceed the announced length;
    // EndUpload fails with IncorrectHandleState (and the request is abandoned) when fewer bytes
    // were written. Other errors as Send.
    bool BeginUpload(std::string_view headers, std::uint64_t totalLength);
    bool Write(const void* data, std::size_t size, std::size_t& bytesWritten);
    bool EndUpload();

    // Available once the reply's headers arrived (IncorrectHandleState before).
    bool QueryStatusCode(std::uint32_t& status) const;
    // The status line and header lines of the final reply, each ending in CRLF, followed by
    // the empty line. Replies whose headers exceed 512 KiB fail with InvalidServerResponse.
    bool QueryRawHeaders(std::string& headers) const;
    // The reason phrase of the status line ("OK"); may be empty.
    bool QueryStatusText(std::string& text) const;

    // Copies up to `size` body bytes into `buffer`. Success with bytesRead == 0 is the end of
    // the body. Errors: Timeout (server silent beyond the receive time-out), ConnectionAborted
    // (connection closed before the announced length), ConnectionReset, InvalidServerResponse
    // (bad framing or encoding), OperationCancelled, IncorrectHandleState.
    bool Read(void* buffer, std::size_t size, std::size_t& bytesRead);

    // The number of the last failure, and the backend's own words for it (may be empty).
    std::uint32_t LastError() const;
    std::string LastErrorText() const;

    struct State;

private:
    std::unique_ptr<State> state_;
};

}  // namespace Platform
