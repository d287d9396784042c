// Opening and closing the handles of one HTTPS exchange.
#include "DownloadSystem/HttpExchange.h"

#include <utility>

#include "DownloadSystem/RequestTimeouts.h"

namespace DownloadSystem {

bool HttpExchange::OpenSession(std::string_view agent, Platform::HttpCancelCheck cancel) {
    Close();
    session_ = std::make_unique<Platform::HttpSession>();
    if (!session_->Open(agent)) {
        lastError_ = session_->LastError();
        return false;
    }
    session_->SetCancelCheck(std::move(cancel));
    ApplyRequestTimeouts(*session_);
    return true;
}

bool HttpExchange::Connect(std::string_view host, std::uint16_t port) {
    if (!session_) {
        lastError_ = Platform::HttpError::IncorrectHandleState;
        return false;
    }
    connection_ = std::make_unique<Platform::HttpConnection>();
    if (!connection_->Open(*session_, host, port)) {
        lastError_ = connection_->LastError();
        return false;
    }
    return true;
}

bool HttpExchange::OpenRequest(std::string_view verb, std::string_view objectName, bool secure) {
    if (!connection_) {
        lastError_ = Platform::HttpError::IncorrectHandleState;
        return false;
    }
    request_ = std::make_unique<Platform::HttpRequest>();
    if (!request_->Open(*connection_, verb, objectName, secure)) {
        lastError_ = request_->LastError();
        return false;
    }
    return true;
}

void HttpExchange::Close() {
    if (request_) {
        request_->Close();
        request_.reset();
    }
    if (connection_) {
        connection_->Close();
        connection_.reset();
    }
    if (session_) {
        session_->Close();
        session_.reset();
    }
}

}  // namespace DownloadSystem
