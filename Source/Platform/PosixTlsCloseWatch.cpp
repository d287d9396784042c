// The close_notify watch: one process-wide table from connection to the watch reading it,
// filled by the request's own thread and read by the TLS message callback, which runs on
// that same thread inside libcurl's reads.
#include "Platform/PosixTlsCloseWatch.h"

#include <openssl/ssl.h>

#include <mutex>
#include <unordered_map>

namespace Platform {
namespace {

std::mutex& TableMutex() {
    static std::mutex mutex;
    return mutex;
}

// Never destroyed: connections on other threads may still report alerts at exit.
std::unordered_map<const SSL*, TlsCloseWatch*>& Table() {
    static auto* table = new std::unordered_map<const SSL*, TlsCloseWatch*>();
    return *table;
}

}  // namespace

void TlsCloseWatch::Install(SSL_CTX* context) {
    SSL_CTX_set_msg_callback(context, OnMessage);
}

void TlsCloseWatch::OnMessage(int writing, int, int type, const void* data, unsigned long size,
                              SSL* ssl, void*) {
    // Every record passes here; only a received alert is worth the table's lock.
    if (writing != 0 || type != SSL3_RT_ALERT || size < 2 ||
        static_cast<const unsigned char*>(data)[1] != SSL_AD_CLOSE_NOTIFY)
        return;
    std::lock_guard lock(TableMutex());
    auto found = Table().find(ssl);
    if (found != Table().end())
        found->second->seen_ = true;
}

void TlsCloseWatch::Start(SSL* ssl) {
    Stop();
    if (ssl == nullptr)
        return;
    std::lock_guard lock(TableMutex());
    Table()[ssl] = this;
    ssl_ = ssl;
    seen_ = false;
}

void TlsCloseWatch::Stop() {
    if (ssl_ == nullptr)
        return;
    std::lock_guard lock(TableMutex());
    auto found = Table().find(ssl_);
    if (found != Table().end() && found->second == this)
        Table().erase(found);
    ssl_ = nullptr;
}

bool TlsCloseWatch::Seen() const {
    std::lock_guard lock(TableMutex());
    return seen_;
}

}  // namespace Platform
