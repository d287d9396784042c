// Linux backend of Crypto.h: one-shot digests through OpenSSL's EVP interface.
#include "Platform/Crypto.h"

#include <openssl/err.h>
#include <openssl/evp.h>

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
