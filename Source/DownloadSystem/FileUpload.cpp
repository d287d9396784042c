// The request client: opening, sending (form or streamed body), reading the reply, attempts.
#include "DownloadSystem/FileUpload.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "DownloadSystem/RequestTimeouts.h"
#include "Platform/Http.h"
#include "Support/CappedBuffer.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"
#include "Support/StructuredException.h"

namespace DownloadSystem {

using vesk::StringUtils;

namespace {

constexpr std::uint32_t StopTimeoutMs = 15000;
constexpr auto RetryPause = std::chrono::milliseconds(100);

}  // namespace

FileUpload::FileUpload() = default;

FileUpload::~FileUpload() {
    Stop(StopTimeoutMs);
}

void FileUpload::SendFormRequest(const std::u16string& url, HttpVerb verb, const StringMap& headers,
                                 const StringMap& formFields, bool encodeValues) {
    ServerSettingsFromUrl(url);
    verb_ = verb;
    headers_ = headers;
    formFields_ = formFields;
    if (encodeValues) {
        for (auto& field : formFields_)
            field.second = StringUtils::UrlEncode(field.second);
    }
    if (Start())
        Wait(Infinite);
}

void FileUpload::SendBodyRequest(const std::u16string& url, HttpVerb verb, const StringMap& headers,
                                 const vesk::ByteBuffer& body) {
    ServerSettingsFromUrl(url);
    verb_ = verb;
    headers_ = headers;
    requestBody_ = body;
    if (Start())
        Wait(Infinite);
}

std::string FileUpload::GetResponseText() {
    vesk::CriticalSectionLock guard(lock_);
    const std::string_view bytes = responseBody_.AsText();
    return std::string(bytes.substr(0, bytes.find('\0')));
}

void FileUpload::ServerSettingsFromUrl(const std::u16string& url) {
    VESK_LOG_INFO("FileUpload::ServerSettingsFromUrl: " + StringUtils::ToNarrow(url));
    int port = 80;
    bool secure = false;
    StringUtils::SplitUrl(url, host_, path_, port, secure);
    port_ = port;
    secure_ = secure;
}

void FileUpload::Run() {
    vesk::InstallStructuredExceptionTranslator();
    try {
        RunAttempts();
    } catch (const std::exception& exception) {
        VESK_LOG_FAILURE(
            std::string("FileUpload: Obviously a major malfunction. Message: ") + exception.what(),
            0);
    }
}

void FileUpload::RunAttempts() {
    for (;;) {
        vesk::ByteBuffer body;
        if (attemptsMade_ >= maxAttempts_) {
            statusCode_ = FailedStatus;
            return;
        }
        ++attemptsMade_;

        bool sent = false;
        if (!OpenHttpConnection()) {
            std::this_thread::sleep_for(RetryPause);
        } else {
            const std::u16string headerText = BuildHeaderText();
            FormatFormBody(body);
            vesk::LogFailure(u"Sending HTTP " + verbText_ + u" " + u"Headers:\r\n" + headerText, 0,
                             __FILE__, __LINE__);
            sent = SendRequest(headerText, body);
            if (sent)
                ReadReply();
        }
        if (!IsRunning() || sent) {
            Disconnect();
            return;
        }
    }
}

bool FileUpload::SendRequest(const std::u16string& headerText, const vesk::ByteBuffer& body) {
    Platform::HttpRequest& request = exchange_.Request();
    const std::string headers = StringUtils::ToNarrow(headerText);
    if (requestBody_.Empty()) {
        if (request.Send(headers, body.Data(), static_cast<std::size_t>(body.Size())))
            return true;
        VESK_LOG_FAILURE("Error on HttpSendRequest, ", ErrorOf(request.LastError()));
        return false;
    }

    const std::uint64_t length = body.Size();
    const bool begun = request.BeginUpload(headers, length);
    if (!begun)
        VESK_REPORT_ERROR("Error on HttpSendRequestEx\n", ErrorOf(request.LastError()));
    // Pieces written to a request that never started could only fail one by one; the end of
    // the request below reports the attempt as failed either way.
    if (begun) {
        const std::uint64_t pieces = (length + WritePieceSize - 1) / WritePieceSize;
        std::uint64_t sent = 0;
        for (std::uint64_t piece = 0; piece < pieces; ++piece) {
            if (!IsRunning())
                return false;
            const std::size_t size =
                static_cast<std::size_t>(std::min<std::uint64_t>(WritePieceSize, length - sent));
            std::size_t written = 0;
            if (request.Write(body.Data() + sent, size, written))
                sent += written;
            else
                VESK_REPORT_ERROR("\nError on InternetWriteFile\n", ErrorOf(request.LastError()));
        }
    }
    if (request.EndUpload())
        return true;
    VESK_REPORT_ERROR("Error on HttpEndRequest\n", ErrorOf(request.LastError()));
    return false;
}

void FileUpload::ReadReply() {
    Platform::HttpRequest& request = exchange_.Request();
    std::string headers;
    if (!request.QueryRawHeaders(headers)) {
        VESK_LOG_FAILURE("Connection::HttpQueryInfo failed", ErrorOf(request.LastError()));
        Disconnect();
        return;
    }
    if (!headers.empty())
        VESK_LOG_FAILURE("HTTPSendRequest response headers:\r\n" + headers, 0);
    std::uint32_t status = 0;
    if (!request.QueryStatusCode(status)) {
        VESK_LOG_FAILURE("Connection::HttpQueryInfo failed", ErrorOf(request.LastError()));
        Disconnect();
        return;
    }
    statusCode_ = static_cast<std::int32_t>(status);
    std::string reason;
    if (!request.QueryStatusText(reason)) {
        VESK_LOG_FAILURE("Connection::HttpQueryInfo failed", ErrorOf(request.LastError()));
        Disconnect();
        return;
    }

    replyComplete_ = false;
    vesk::CappedBuffer received(MaxReplyBytes);
    std::string piece(readSize_, '\0');
    for (;;) {
        if (!exchange_.HasRequest() || !IsRunning())
            break;
        std::size_t got = 0;
        if (!request.Read(piece.data(), piece.size(), got)) {
            VESK_REPORT_ERROR("InternetReadFile Failed", ErrorOf(request.LastError()));
            // A reply cut short would be misread as a whole one; the caller sees none.
            received.Free();
            break;
        }
        if (got == 0) {
            replyComplete_ = true;
            break;
        }
        if (!received.Append(piece.data(), got)) {
            // A partial reply would only be misread; the caller sees an empty body.
            VESK_LOG_FAILURE("FileUpload: reply larger than " + std::to_string(MaxReplyBytes) +
                                 " bytes, reading stopped",
                             ErrorOf(Platform::HttpError::NotEnoughMemory));
            received.Free();
            break;
        }
    }
    if (IsRunning()) {
        vesk::ByteBuffer bytes(received.View());
        vesk::CriticalSectionLock guard(lock_);
        responseBody_ = std::move(bytes);
    }
}

bool FileUpload::OpenHttpConnection() {
    Disconnect();
    VESK_LOG_FAILURE("Opening connection for: " + StringUtils::ToNarrow(path_), 0);

    // A stop request ends any network wait of this request.
    if (!exchange_.OpenSession("Sorvan", [this] { return !IsRunning(); })) {
        VESK_LOG_FAILURE("InternetOpen failed", ErrorOf(exchange_.LastError()));
        Disconnect();
        return false;
    }
    Platform::HttpSession& session = exchange_.Session();
    if (session.SetDecoding(true)) {
        // Extended on every opening, so a retried request carries the values twice.
        auto found = headers_.find(u"Accept-Encoding");
        if (found != headers_.end())
            found->second += u",gzip,deflate";
        else
            headers_[u"Accept-Encoding"] = u"gzip,deflate";
    } else {
        VESK_LOG_FAILURE("Setting INTERNET_OPTION_HTTP_DECODING failed",
                         ErrorOf(session.LastError()));
    }

    const std::string hostAndPort = StringUtils::ToNarrow(host_) + " " + std::to_string(port_);
    VESK_LOG_FAILURE("InternetConnect " + hostAndPort, 0);
    const bool portValid = port_ >= 0 && port_ <= 65535;
    if (!portValid ||
        !exchange_.Connect(StringUtils::ToNarrow(host_), static_cast<std::uint16_t>(port_))) {
        VESK_LOG_FAILURE(
            "Connection::OpenHttpConnection InternetConnect failed for " + hostAndPort,
            ErrorOf(portValid ? exchange_.LastError() : Platform::HttpError::InvalidParameter));
        Disconnect();
        return false;
    }

    switch (verb_) {
        case HttpVerb::Get:
            verbText_ = u"GET";
            break;
        case HttpVerb::Post:
            verbText_ = u"POST";
            break;
        case HttpVerb::Put:
            verbText_ = u"PUT";
            break;
        case HttpVerb::Delete:
            verbText_ = u"DELETE";
            break;
    }

    if (!exchange_.OpenRequest(StringUtils::ToNarrow(verbText_), StringUtils::ToNarrow(path_),
                               secure_)) {
        VESK_LOG_FAILURE("Connection::HttpOpenRequest failed for: " + StringUtils::ToNarrow(path_),
                         ErrorOf(exchange_.LastError()));
        Disconnect();
        return false;
    }
    return true;
}

void FileUpload::Disconnect() {
    VESK_LOG_FAILURE("Disconnecting " + StringUtils::ToNarrow(path_), 0);
    exchange_.Close();
}

std::u16string FileUpload::BuildHeaderText() const {
    std::u16string text;
    for (const auto& [name, value] : headers_) {
        if (!text.empty())
            text += u"\r\n";
        text += name + u": " + value;
    }
    return text;
}

void FileUpload::FormatFormBody(vesk::ByteBuffer& out) const {
    out.Free();
    if (!requestBody_.Empty()) {
        out = requestBody_;
        return;
    }
    std::string body;
    bool first = true;
    for (const auto& [name, value] : formFields_) {
        if (!first)
            body += '&';
        first = false;
        if (!name.empty())
            body += StringUtils::ToNarrow(name) + "=";
        body += StringUtils::ToNarrow(value);
    }
    if (!body.empty())
        out.Append(body);
}

}  // namespace DownloadSystem
