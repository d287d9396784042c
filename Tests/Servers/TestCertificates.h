// Certificates made for the test run: one trusted authority, exported to clients through
// CURL_CA_BUNDLE, and server certificates that verify or fail on purpose.
#pragma once

#include <string>

typedef struct ssl_ctx_st SSL_CTX;

namespace TestServers {

enum class CertificateKind {
    Valid,             // localhost and 127.0.0.1, signed by the trusted authority
    WrongName,         // valid dates, names another host
    Expired,           // right names, expired yesterday
    UnknownAuthority,  // right names, signed by an authority nobody trusts
};

// The trusted authority's PEM file. The first call makes the authority, writes the file into
// a fresh temporary folder (removed at exit) and sets CURL_CA_BUNDLE to it, so call it (or
// construct the first server) before starting client threads or child processes.
const std::string& TrustedAuthorityFile();

// A server context holding a certificate of the given kind; nullptr on failure. The caller
// frees it with SSL_CTX_free.
SSL_CTX* MakeServerContext(CertificateKind kind);

}  // namespace TestServers
