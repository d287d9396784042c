// Whether the server of a TLS connection said its close_notify. A reply body without a length
// ends where the server closes the connection; over TLS only that alert tells such an end
// from a connection that was cut, which libcurl reads as a clean end as well.
//
//     TlsCloseWatch::Install(context);   // once per SSL_CTX, in the context callback
//     watch.Start(ssl);                  // while the request reads its body
//     ... transfer ends ...
//     if (!watch.Seen()) ... the body was cut ...
#pragma once

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace Platform {

class TlsCloseWatch {
public:
    // Reports every alert received on the context's connections to the watch started for
    // that connection, if any.
    static void Install(SSL_CTX* context);

    TlsCloseWatch() = default;
    ~TlsCloseWatch() { Stop(); }
    TlsCloseWatch(const TlsCloseWatch&) = delete;
    TlsCloseWatch& operator=(const TlsCloseWatch&) = delete;

    // Watches `ssl` from now on, in place of any earlier watch on it; a pooled connection
    // serves one request after another.
    void Start(SSL* ssl);
    void Stop();
    bool Seen() const;

private:
    static void OnMessage(int writing, int version, int type, const void* data, unsigned long size,
                          SSL* ssl, void* arg);

    SSL* ssl_ = nullptr;
    bool seen_ = false;
};

}  // namespace Platform
