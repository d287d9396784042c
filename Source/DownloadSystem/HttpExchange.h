// The handles of one HTTPS exchange, opened step by step (session, connection, request) and
// closed together in the reverse order. Each step reports failure by value; the caller logs it
// in its own words, so the request client and the download worker keep their own texts.
#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "Platform/Http.h"

namespace DownloadSystem {

class HttpExchange {
public:
    HttpExchange() = default;
    ~HttpExchange() { Close(); }
    HttpExchange(const HttpExchange&) = delete;
    HttpExchange& operator=(const HttpExchange&) = delete;

    // Closes what is open, then opens a session sending `agent`, ended early by `cancel`, with
    // the engine's request time-outs.
    bool OpenSession(std::string_view agent, Platform::HttpCancelCheck cancel);
    // `host` may carry ":port", which then wins over `port`. Needs an open session.
    bool Connect(std::string_view host, std::uint16_t port);
    // Needs an open connection.
    bool OpenRequest(std::string_view verb, std::string_view objectName, bool secure);
    // Closes the request, the connection and the session, in that order; each only when open.
    void Close();

    // The number of the last step's failure.
    std::uint32_t LastError() const { return lastError_; }
    bool HasRequest() const { return request_ != nullptr; }
    // Valid after the step that opened them and until Close.
    Platform::HttpSession& Session() { return *session_; }
    Platform::HttpRequest& Request() { return *request_; }

private:
    std::unique_ptr<Platform::HttpSession> session_;
    std::unique_ptr<Platform::HttpConnection> connection_;
    std::unique_ptr<Platform::HttpRequest> request_;
    std::uint32_t lastError_ = 0;
};

}  // namespace DownloadSystem
