// Linux backend of Crypto.h: digests and signature checks through OpenSSL's EVP interface.
#include "Platform/Crypto.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ec.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/params.h>

namespace Platform {

namespace {

const EVP_MD* Digest(HashAlgorithm algorithm) {
    switch (algorithm) {
        case HashAlgorithm::Sha1:
            return EVP_sha1();
        case HashAlgorithm::Md5:
            return EVP_md5();
        case HashAlgorithm::Sha256:
            return EVP_sha256();
    }
    return nullptr;
}

}  // namespace

std::vector<std::uint8_t> ComputeHash(HashAlgorithm algorithm, const void* data, std::size_t size,
                                      unsigned long* errorNumber, const char** failedCall) {
    if (errorNumber != nullptr) {
        *errorNumber = 0;
    }
    if (failedCall != nullptr) {
        *failedCall = "EVP_Digest";
    }
    const EVP_MD* md = Digest(algorithm);
    std::vector<std::uint8_t> digest(EVP_MAX_MD_SIZE);
    unsigned int length = 0;
    static const unsigned char empty = 0;
    if (md == nullptr || EVP_Digest(data != nullptr ? data : &empty, size, digest.data(), &length,
                                    md, nullptr) != 1) {
        if (errorNumber != nullptr) {
            *errorNumber = ERR_get_error();
            if (*errorNumber == 0) {
                *errorNumber = 1;
            }
        }
        return {};
    }
    digest.resize(length);
    return digest;
}

}  // namespace Platform

// Incremental SHA-256 and the signature check, also on OpenSSL.
namespace Platform {

struct Sha256::State {
    EVP_MD_CTX* context = nullptr;
    bool ready = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    state_->context = EVP_MD_CTX_new();
    state_->ready = state_->context != nullptr &&
                    EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) == 1;
}

Sha256::~Sha256() {
    EVP_MD_CTX_free(state_->context);
}

bool Sha256::Update(const void* data, std::size_t size) {
    if (!state_->ready) {
        return false;
    }
    if (size == 0) {
        return true;
    }
    state_->ready = EVP_DigestUpdate(state_->context, data, size) == 1;
    return state_->ready;
}

bool Sha256::Final(Sha256Digest& digest) {
    unsigned int length = 0;
    const bool ok = state_->ready &&
                    EVP_DigestFinal_ex(state_->context, digest.data(), &length) == 1 &&
                    length == digest.size();
    state_->ready = EVP_DigestInit_ex(state_->context, EVP_sha256(), nullptr) == 1;
    return ok;
}

namespace {

EVP_PKEY* P256PublicKey(const std::uint8_t* point, std::size_t size) {
    EVP_PKEY_CTX* context = EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr);
    EVP_PKEY* key = nullptr;
    char group[] = "prime256v1";
    OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
                           OSSL_PARAM_construct_octet_string(
                               OSSL_PKEY_PARAM_PUB_KEY, const_cast<std::uint8_t*>(point), size),
                           OSSL_PARAM_construct_end()};
    if (context == nullptr || EVP_PKEY_fromdata_init(context) != 1 ||
        EVP_PKEY_fromdata(context, &key, EVP_PKEY_PUBLIC_KEY, params) != 1) {
        key = nullptr;
    }
    EVP_PKEY_CTX_free(context);
    return key;
}

// OpenSSL takes the signature DER-encoded; r and s come as two 32-byte numbers.
std::vector<unsigned char> DerSignature(const std::uint8_t* signature) {
    ECDSA_SIG* parsed = ECDSA_SIG_new();
    BIGNUM* r = BN_bin2bn(signature, 32, nullptr);
    BIGNUM* s = BN_bin2bn(signature + 32, 32, nullptr);
    std::vector<unsigned char> der;
    if (parsed != nullptr && r != nullptr && s != nullptr && ECDSA_SIG_set0(parsed, r, s) == 1) {
        r = nullptr;  // owned by `parsed` now
        s = nullptr;
        const int length = i2d_ECDSA_SIG(parsed, nullptr);
        if (length > 0) {
            der.resize(static_cast<std::size_t>(length));
            unsigned char* out = der.data();
            if (i2d_ECDSA_SIG(parsed, &out) != length) {
                der.clear();
            }
        }
    }
    BN_free(r);
    BN_free(s);
    ECDSA_SIG_free(parsed);
    return der;
}

}  // namespace

bool VerifyEcdsaP256Sha256(const std::uint8_t* publicKey, std::size_t publicKeySize,
                           const void* message, std::size_t messageSize,
                           const std::uint8_t* signature, std::size_t signatureSize) {
    if (publicKey == nullptr || signature == nullptr || publicKeySize != EcdsaP256PublicKeyLength ||
        publicKey[0] != 0x04 || signatureSize != EcdsaP256SignatureLength) {
        return false;
    }
    const std::vector<unsigned char> der = DerSignature(signature);
    EVP_PKEY* key = P256PublicKey(publicKey, publicKeySize);
    EVP_MD_CTX* context = EVP_MD_CTX_new();
    static const unsigned char empty = 0;
    const bool valid =
        !der.empty() && key != nullptr && context != nullptr &&
        EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key) == 1 &&
        EVP_DigestVerify(context, der.data(), der.size(),
                         static_cast<const unsigned char*>(message != nullptr ? message : &empty),
                         messageSize) == 1;
    EVP_MD_CTX_free(context);
    EVP_PKEY_free(key);
    // A refused signature leaves its reason in OpenSSL's queue; it is an answer, not an error.
    ERR_clear_error();
    return valid;
}

}  // namespace Platform
