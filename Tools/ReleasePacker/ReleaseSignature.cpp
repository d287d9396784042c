// Keys and signatures of the release packer, on OpenSSL.
#include "ReleaseSignature.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/sha.h>
#include <sys/stat.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "FileWriting.h"

namespace Tools {
namespace {

std::string Hex(const unsigned char* bytes, std::size_t size) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += Digits[bytes[i] >> 4];
        out += Digits[bytes[i] & 0xF];
    }
    return out;
}

struct KeyFree {
    void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using Key = std::unique_ptr<EVP_PKEY, KeyFree>;

Key ReadKey(const std::filesystem::path& path, std::string& error) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
        error = "cannot open signing key " + path.string();
        return nullptr;
    }
    Key key(PEM_read_PrivateKey(file, nullptr, nullptr, nullptr));
    std::fclose(file);
    if (!key || EVP_PKEY_get_base_id(key.get()) != EVP_PKEY_EC ||
        EVP_PKEY_get_bits(key.get()) != 256) {
        error = path.string() + " holds no ECDSA P-256 private key";
        return nullptr;
    }
    return key;
}

bool PublicHex(EVP_PKEY* key, std::string& hex, std::string& error) {
    unsigned char point[65];
    std::size_t length = 0;
    if (EVP_PKEY_get_octet_string_param(key, "encoded-pub-key", point, sizeof(point), &length) !=
            1 ||
        length != sizeof(point) || point[0] != 0x04) {
        error = "cannot read the public key";
        return false;
    }
    hex = Hex(point, length);
    return true;
}

}  // namespace

std::string Sha256Hex(const std::string& data) {
    unsigned char digest[SHA256_DIGEST_LENGTH];
    SHA256(reinterpret_cast<const unsigned char*>(data.data()), data.size(), digest);
    return Hex(digest, sizeof(digest));
}

bool MakeSigningKey(const std::filesystem::path& privateKeyPath, std::string& publicKeyHex,
                    std::string& error) {
    Key key(EVP_EC_gen("P-256"));
    if (!key) {
        error = "cannot make a P-256 key";
        return false;
    }
    if (!PublicHex(key.get(), publicKeyHex, error)) {
        return false;
    }
    BIO* memory = BIO_new(BIO_s_mem());
    char* pem = nullptr;
    long pemLength = 0;
    if (memory == nullptr ||
        PEM_write_bio_PrivateKey(memory, key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1 ||
        (pemLength = BIO_get_mem_data(memory, &pem)) <= 0) {
        BIO_free(memory);
        error = "cannot encode the private key";
        return false;
    }
    const std::string text(pem, static_cast<std::size_t>(pemLength));
    BIO_free(memory);
    // The private key is the publisher's secret: nobody else may read it.
    const mode_t previous = umask(077);
    const bool written = WriteFileAtomically(privateKeyPath, text, error);
    umask(previous);
    return written;
}

bool ReadPublicKeyHex(const std::filesystem::path& privateKeyPath, std::string& publicKeyHex,
                      std::string& error) {
    Key key = ReadKey(privateKeyPath, error);
    return key && PublicHex(key.get(), publicKeyHex, error);
}

bool SignFileList(const std::filesystem::path& privateKeyPath, const std::string& release,
                  std::uint64_t version, const std::string& listText, std::string& signatureText,
                  std::string& error) {
    if (version == 0) {
        error = "the release version must be 1 or more";
        return false;
    }
    Key key = ReadKey(privateKeyPath, error);
    if (!key) {
        return false;
    }
    const std::string body = "release-signature 1\nrelease " + release + "\nversion " +
                             std::to_string(version) + "\nlist-sha256 " + Sha256Hex(listText) +
                             "\n";
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    std::vector<unsigned char> der(128);
    std::size_t derLength = der.size();
    const bool signedOk =
        context != nullptr &&
        EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
        EVP_DigestSign(context, der.data(), &derLength,
                       reinterpret_cast<const unsigned char*>(body.data()), body.size()) == 1;
    EVP_MD_CTX_free(context);
    if (!signedOk) {
        error = "cannot sign with " + privateKeyPath.string();
        return false;
    }
    // r and s as two 32-byte numbers, the form every verifier takes without DER.
    const unsigned char* in = der.data();
    ECDSA_SIG* parsed = d2i_ECDSA_SIG(nullptr, &in, static_cast<long>(derLength));
    unsigned char raw[64];
    const bool converted = parsed != nullptr &&
                           BN_bn2binpad(ECDSA_SIG_get0_r(parsed), raw, 32) == 32 &&
                           BN_bn2binpad(ECDSA_SIG_get0_s(parsed), raw + 32, 32) == 32;
    ECDSA_SIG_free(parsed);
    if (!converted) {
        error = "cannot read the signature OpenSSL made";
        return false;
    }
    signatureText = body + "signature " + Hex(raw, sizeof(raw)) + "\n";
    return true;
}

}  // namespace Tools
