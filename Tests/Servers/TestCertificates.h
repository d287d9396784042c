// Certificates made for the test run: one trusted authority, exported to clients through
// CURL_CA_BUNDLE, and server certificates that verify or fail on purpose. The one place
// tests make certificates, for in-process servers and for servers run as programs.
#pragma once

#include <filesystem>
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

// Writes a server certificate signed by the trusted authority, for `altNames` (OpenSSL's
// subjectAltName syntax), and its private key as PEM files, for servers that run as
// programs and read their certificate from files. Clients trust it through
// TrustedAuthorityFile(). False on failure.
bool WriteServerCertificateFiles(const std::filesystem::path& certificateFile,
                                 const std::filesystem::path& privateKeyFile,
                                 const std::string& altNames = "DNS:localhost,IP:127.0.0.1");

}  // namespace TestServers
