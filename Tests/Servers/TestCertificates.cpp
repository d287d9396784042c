// Makes the test run's certificate authorities and server certificates in memory with
// OpenSSL's X509 API and writes the trusted authority where clients find it.
#include "Servers/TestCertificates.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <system_error>

namespace TestServers {

namespace {

constexpr long kDay = 24 * 60 * 60;

struct Authority {
    EVP_PKEY* key = nullptr;
    X509* certificate = nullptr;
};

bool AddExtension(X509* certificate, X509* issuer, int nid, const char* value) {
    X509V3_CTX context;
    X509V3_set_ctx_nodb(&context);
    X509V3_set_ctx(&context, issuer, certificate, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    if (extension == nullptr)
        return false;
    bool added = X509_add_ext(certificate, extension, -1) == 1;
    X509_EXTENSION_free(extension);
    return added;
}

// A certificate for `key`, signed by `issuerKey` (issuer nullptr: self-signed authority).
X509* MakeCertificate(EVP_PKEY* key, const char* commonName, const char* altNames, long notBefore,
                      long notAfter, X509* issuer, EVP_PKEY* issuerKey) {
    static long serial = 1;
    X509* certificate = X509_new();
    bool ok = certificate != nullptr && X509_set_version(certificate, 2) == 1 &&
              ASN1_INTEGER_set(X509_get_serialNumber(certificate), serial++) == 1 &&
              X509_gmtime_adj(X509_getm_notBefore(certificate), notBefore) != nullptr &&
              X509_gmtime_adj(X509_getm_notAfter(certificate), notAfter) != nullptr &&
              X509_set_pubkey(certificate, key) == 1;
    if (ok) {
        X509_NAME* name = X509_get_subject_name(certificate);
        ok = X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                                        reinterpret_cast<const unsigned char*>(commonName), -1, -1,
                                        0) == 1 &&
             X509_set_issuer_name(certificate,
                                  issuer != nullptr ? X509_get_subject_name(issuer) : name) == 1;
    }
    X509* signer = issuer != nullptr ? issuer : certificate;
    if (ok && issuer == nullptr) {
        ok = AddExtension(certificate, signer, NID_basic_constraints, "critical,CA:TRUE") &&
             AddExtension(certificate, signer, NID_key_usage, "critical,keyCertSign,cRLSign") &&
             AddExtension(certificate, signer, NID_subject_key_identifier, "hash");
    } else if (ok) {
        ok = AddExtension(certificate, signer, NID_basic_constraints, "critical,CA:FALSE") &&
             AddExtension(certificate, signer, NID_key_usage,
                          "critical,digitalSignature,keyEncipherment") &&
             AddExtension(certificate, signer, NID_ext_key_usage, "serverAuth") &&
             AddExtension(certificate, signer, NID_subject_alt_name, altNames) &&
             AddExtension(certificate, signer, NID_authority_key_identifier, "keyid");
    }
    if (ok)
        ok = X509_sign(certificate, issuerKey != nullptr ? issuerKey : key, EVP_sha256()) > 0;
    if (!ok) {
        X509_free(certificate);
        ERR_clear_error();
        return nullptr;
    }
    return certificate;
}

Authority MakeAuthority(const char* name) {
    Authority authority;
    authority.key = EVP_EC_gen("P-256");
    if (authority.key != nullptr)
        authority.certificate =
            MakeCertificate(authority.key, name, nullptr, -kDay, 30 * kDay, nullptr, nullptr);
    return authority;
}

struct Material {
    Authority trusted;
    Authority unknown;
    EVP_PKEY* serverKey = nullptr;
    std::filesystem::path folder;
    std::string file;

    Material() {
        trusted = MakeAuthority("Test Run Authority");
        unknown = MakeAuthority("Unknown Authority");
        serverKey = EVP_EC_gen("P-256");
        char pattern[] = "/tmp/sorvan-test-ca-XXXXXX";
        if (trusted.certificate == nullptr || mkdtemp(pattern) == nullptr)
            return;
        folder = pattern;
        std::string path = (folder / "authority.pem").string();
        if (FILE* out = std::fopen(path.c_str(), "w")) {
            bool written = PEM_write_X509(out, trusted.certificate) == 1;
            if (std::fclose(out) == 0 && written)
                file = path;
        }
        if (!file.empty())
            setenv("CURL_CA_BUNDLE", file.c_str(), 1);
    }

    ~Material() {
        std::error_code ignored;
        if (!folder.empty())
            std::filesystem::remove_all(folder, ignored);
        for (Authority* a : {&trusted, &unknown}) {
            X509_free(a->certificate);
            EVP_PKEY_free(a->key);
        }
        EVP_PKEY_free(serverKey);
    }
};

Material& Shared() {
    static Material material;
    return material;
}

// Certificate serials and OpenSSL's name tables.
std::mutex& MakerMutex() {
    static std::mutex mutex;
    return mutex;
}

bool WritePem(const std::filesystem::path& path, X509* certificate, EVP_PKEY* key) {
    FILE* out = std::fopen(path.c_str(), "w");
    if (out == nullptr)
        return false;
    const bool written = certificate != nullptr ? PEM_write_X509(out, certificate) == 1
                                                : PEM_write_PrivateKey(out, key, nullptr, nullptr,
                                                                       0, nullptr, nullptr) == 1;
    return std::fclose(out) == 0 && written;
}

}  // namespace

const std::string& TrustedAuthorityFile() {
    return Shared().file;
}

SSL_CTX* MakeServerContext(CertificateKind kind) {
    Material& material = Shared();
    std::lock_guard lock(MakerMutex());
    if (material.file.empty() || material.serverKey == nullptr)
        return nullptr;
    const char* names = "DNS:localhost,IP:127.0.0.1";
    long notBefore = -kDay;
    long notAfter = 30 * kDay;
    Authority* issuer = &material.trusted;
    switch (kind) {
        case CertificateKind::Valid:
            break;
        case CertificateKind::WrongName:
            names = "DNS:wrong-host.invalid";
            break;
        case CertificateKind::Expired:
            notBefore = -30 * kDay;
            notAfter = -kDay;
            break;
        case CertificateKind::UnknownAuthority:
            issuer = &material.unknown;
            break;
    }
    if (issuer->certificate == nullptr)
        return nullptr;
    X509* certificate = MakeCertificate(material.serverKey, "test server", names, notBefore,
                                        notAfter, issuer->certificate, issuer->key);
    SSL_CTX* context = SSL_CTX_new(TLS_server_method());
    bool ok = certificate != nullptr && context != nullptr &&
              SSL_CTX_use_certificate(context, certificate) == 1 &&
              SSL_CTX_use_PrivateKey(context, material.serverKey) == 1;
    X509_free(certificate);
    if (!ok) {
        SSL_CTX_free(context);
        ERR_clear_error();
        return nullptr;
    }
    SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
    return context;
}

bool WriteServerCertificateFiles(const std::filesystem::path& certificateFile,
                                 const std::filesystem::path& privateKeyFile,
                                 const std::string& altNames) {
    Material& material = Shared();
    std::lock_guard lock(MakerMutex());
    if (material.file.empty() || material.serverKey == nullptr)
        return false;
    X509* certificate =
        MakeCertificate(material.serverKey, "test server", altNames.c_str(), -kDay, 30 * kDay,
                        material.trusted.certificate, material.trusted.key);
    const bool ok = certificate != nullptr && WritePem(certificateFile, certificate, nullptr) &&
                    WritePem(privateKeyFile, nullptr, material.serverKey);
    X509_free(certificate);
    return ok;
}

}  // namespace TestServers
