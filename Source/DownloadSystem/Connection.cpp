// Opening a download worker's HTTPS GET exchange and closing its handles.
#include "DownloadSystem/Connection.h"

#include "DownloadSystem/FileDownload.h"
#include "DownloadSystem/RequestTimeouts.h"
#include "Platform/Http.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {

using vesk::StringUtils;

namespace {

constexpr std::string_view RequestHeaders = "User-Agent: Sorvan Download Manager / 9.5\r\n";

}  // namespace

void Connection::CloseHandles(FileDownload& worker) {
    if (worker.request_) {
        worker.request_->Close();
        worker.request_.reset();
    }
    if (worker.connection_) {
        worker.connection_->Close();
        worker.connection_.reset();
    }
    if (worker.session_) {
        worker.session_->Close();
        worker.session_.reset();
    }
}

bool Connection::OpenHttpConnection(FileDownload& worker) {
    CloseHandles(worker);
    vesk::LogFailure(u"Opening connection: " + worker.server_, 0, __FILE__, __LINE__);

    worker.session_ = std::make_unique<Platform::HttpSession>();
    Platform::HttpSession& session = *worker.session_;
    if (!session.Open(StringUtils::ToNarrow(worker.target_))) {
        VESK_LOG_FAILURE("InternetOpen failed", ErrorOf(session.LastError()));
        CloseHandles(worker);
        return false;
    }
    // A stop request ends any network wait of this worker.
    session.SetCancelCheck([&worker] { return !worker.IsRunning(); });
    ApplyRequestTimeouts(session);

    worker.connection_ = std::make_unique<Platform::HttpConnection>();
    if (!worker.connection_->Open(session, StringUtils::ToNarrow(worker.server_),
                                  FileDownload::DefaultPort)) {
        VESK_LOG_FAILURE("Connection::OpenHttpConnection InternetConnect failed",
                         ErrorOf(worker.connection_->LastError()));
        CloseHandles(worker);
        return false;
    }

    const std::u16string where = worker.server_ + u"/ " + worker.remotePath_;
    worker.request_ = std::make_unique<Platform::HttpRequest>();
    Platform::HttpRequest& request = *worker.request_;
    const std::string objectName = StringUtils::ToNarrow(worker.remotePath_ + worker.remoteSuffix_);
    if (!request.Open(*worker.connection_, "GET", objectName, true)) {
        vesk::LogFailure(u"Connection::HttpOpenRequest failed for: " + where,
                         ErrorOf(request.LastError()), __FILE__, __LINE__);
        CloseHandles(worker);
        return false;
    }
    if (!request.Send(RequestHeaders)) {
        vesk::LogFailure(u"Connection::HttpSendRequest failed for: " + where,
                         ErrorOf(request.LastError()), __FILE__, __LINE__);
        CloseHandles(worker);
        return false;
    }

    std::uint32_t status = 0;
    if (!request.QueryStatusCode(status)) {
        vesk::LogFailure(u"Connection::HttpQueryInfo failed for: " + worker.target_,
                         ErrorOf(request.LastError()), __FILE__, __LINE__);
        CloseHandles(worker);
        return false;
    }
    worker.errorCode_.store(static_cast<std::int32_t>(status), std::memory_order_release);

    std::string headers;
    if (!request.QueryRawHeaders(headers)) {
        vesk::LogFailure(u"Connection::HttpQueryInfo failed for: " + worker.target_,
                         ErrorOf(request.LastError()), __FILE__, __LINE__);
        CloseHandles(worker);
        return false;
    }
    if (!headers.empty())
        VESK_LOG_INFO("Response headers: " + headers);

    if (status == 200)
        return true;
    if (!headers.empty()) {
        VESK_REPORT_ERROR("Response status not 200, but " + std::to_string(status) +
                              " Response headers: " + headers,
                          vesk::ErrorNumber::ResponseStatusNot200);
    }
    CloseHandles(worker);
    return false;
}

}  // namespace DownloadSystem
