// The request client of the download service: one HTTP(S) request with a header map and a
// form or raw body, run on its own thread with up to three attempts; the reply's status code
// and body are kept for the caller.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "DownloadSystem/HttpExchange.h"
#include "DownloadSystem/HttpVerb.h"
#include "Support/ByteBuffer.h"
#include "Support/CriticalSection.h"
#include "Support/Tavrin_Thread.h"

namespace DownloadSystem {

// Name to value, iterated in ascending order of the name's UTF-16 code units.
using StringMap = std::map<std::u16string, std::u16string>;

// One object serves one request: construct, call one send operation (it returns when the
// request is over), read GetStatusCode and GetResponseText, destroy.
class FileUpload : public vesk::Tavrin_Thread {
public:
    // Status code when every attempt failed to get a reply.
    static constexpr std::int32_t FailedStatus = 9000;
    static constexpr std::uint64_t MaxAttempts = 3;
    // Upload piece and reply read sizes.
    static constexpr std::size_t WritePieceSize = 1024;
    static constexpr std::size_t ReadPieceSize = 1024 * 1024;

    FileUpload();
    // Stops the request (15 s limit) before the fields go.
    ~FileUpload() override;

    // A form post: the fields become "name=value" pairs joined by "&" in name order; when
    // `encodeValues` is true each value is percent-encoded first (names never are).
    void SendFormRequest(const std::u16string& url, HttpVerb verb, const StringMap& headers,
                         const StringMap& formFields, bool encodeValues);
    // The body's bytes are sent as they are, streamed in 1024-byte pieces.
    void SendBodyRequest(const std::u16string& url, HttpVerb verb, const StringMap& headers,
                         const vesk::ByteBuffer& body);

    // The reply's status, 9000 when no attempt got a reply, 0 before a request.
    std::int32_t GetStatusCode() const { return statusCode_; }
    // True when the reply's body was read to its end; a cut, stalled or over-long reply
    // leaves an empty response and false.
    bool IsReplyComplete() const { return replyComplete_; }
    // The reply body as text, up to its first zero byte.
    std::string GetResponseText();

    // Takes host, path, port and secure flag from "http[s]://host[:port]/path".
    void ServerSettingsFromUrl(const std::u16string& url);

    void Run() override;

private:
    bool OpenHttpConnection();
    void Disconnect();
    std::u16string BuildHeaderText() const;
    void FormatFormBody(vesk::ByteBuffer& out) const;
    // One attempt's sending; true when the request went out and a reply is awaited.
    bool SendRequest(const std::u16string& headerText, const vesk::ByteBuffer& body);
    // Reads the reply of a sent attempt into the response body.
    void ReadReply();
    void RunAttempts();

    std::u16string host_;
    HttpVerb verb_ = HttpVerb::Post;
    std::u16string verbText_ = u"POST";
    StringMap headers_;
    StringMap formFields_;
    vesk::ByteBuffer requestBody_;
    vesk::ByteBuffer responseBody_;
    std::int32_t statusCode_ = 0;
    bool replyComplete_ = false;
    HttpExchange exchange_;
    std::int32_t port_ = 80;
    bool secure_ = false;
    std::uint32_t readSize_ = ReadPieceSize;
    std::uint64_t attemptsMade_ = 0;
    std::uint64_t maxAttempts_ = MaxAttempts;
    std::u16string path_;
    vesk::CriticalSection lock_;
};

}  // namespace DownloadSystem
