// Windows backend of Crypto.h: CryptoAPI hashes from the AES provider (it offers SHA-1,
// MD5 and SHA-256 alike), one verify-only context per call; the incremental SHA-256 and
// the ECDSA check on CNG.
#include "Platform/Crypto.h"

#include <windows.h>

#include <bcrypt.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>

namespace Platform {

std::vector<std::uint8_t> ComputeHash(HashAlgorithm algorithm, const void* data, std::size_t size,
                                      unsigned long* errorNumber, const char** failedCall) {
    ALG_ID id = CALG_SHA_256;
    if (algorithm == HashAlgorithm::Sha1) {
        id = CALG_SHA1;
    } else if (algorithm == HashAlgorithm::Md5) {
        id = CALG_MD5;
    }
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    std::vector<std::uint8_t> digest(HashLength(algorithm));
    DWORD failure = 0;
    const char* failed = nullptr;
    // Records the first call that fails, with its error code.
    const auto step = [&](BOOL result, const char* call) {
        if (!result && failed == nullptr) {
            failure = GetLastError();
            failed = call;
        }
        return result != FALSE;
    };
    const auto* bytes = static_cast<const BYTE*>(data);
    bool ok = step(CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES,
                                        CRYPT_VERIFYCONTEXT | CRYPT_SILENT),
                   "CryptAcquireContext") &&
              step(CryptCreateHash(provider, id, 0, 0, &hash), "CryptCreateHash");
    // CryptHashData takes 32-bit lengths; bigger blocks go in pieces.
    std::size_t done = 0;
    while (ok && done < size) {
        const std::size_t piece = std::min<std::size_t>(size - done, 0x40000000u);
        ok = step(CryptHashData(hash, bytes + done, static_cast<DWORD>(piece), 0), "CryptHashData");
        done += piece;
    }
    DWORD length = static_cast<DWORD>(digest.size());
    ok = ok && step(CryptGetHashParam(hash, HP_HASHVAL, digest.data(), &length, 0) &&
                        length == digest.size(),
                    "CryptGetHashParam");
    if (hash != 0) {
        ok = step(CryptDestroyHash(hash), "CryptDestroyHash") && ok;
    }
    if (provider != 0) {
        ok = step(CryptReleaseContext(provider, 0), "CryptReleaseContext") && ok;
    }
    if (!ok) {
        digest.clear();
        if (errorNumber != nullptr) {
            *errorNumber = failure != 0 ? failure : static_cast<unsigned long>(NTE_FAIL);
        }
        if (failedCall != nullptr) {
            *failedCall = failed;
        }
    }
    return digest;
}

}  // namespace Platform

// Incremental SHA-256 and the signature check on CNG (bcrypt).
namespace Platform {

namespace {

bool Succeeded(NTSTATUS status) {
    return status >= 0;
}

BCRYPT_HASH_HANDLE NewSha256(BCRYPT_ALG_HANDLE& algorithm) {
    BCRYPT_HASH_HANDLE hash = nullptr;
    if (algorithm == nullptr &&
        !Succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        algorithm = nullptr;
        return nullptr;
    }
    if (!Succeeded(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0))) {
        return nullptr;
    }
    return hash;
}

}  // namespace

struct Sha256::State {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ready = false;
};

Sha256::Sha256() : state_(std::make_unique<State>()) {
    state_->hash = NewSha256(state_->algorithm);
    state_->ready = state_->hash != nullptr;
}

Sha256::~Sha256() {
    if (state_->hash != nullptr) {
        BCryptDestroyHash(state_->hash);
    }
    if (state_->algorithm != nullptr) {
        BCryptCloseAlgorithmProvider(state_->algorithm, 0);
    }
}

bool Sha256::Update(const void* data, std::size_t size) {
    const auto* bytes = static_cast<const UCHAR*>(data);
    // BCryptHashData takes 32-bit lengths; bigger blocks go in pieces.
    std::size_t done = 0;
    while (state_->ready && done < size) {
        const std::size_t piece = std::min<std::size_t>(size - done, 0x40000000u);
        state_->ready = Succeeded(BCryptHashData(state_->hash, const_cast<UCHAR*>(bytes + done),
                                                 static_cast<ULONG>(piece), 0));
        done += piece;
    }
    return state_->ready;
}

bool Sha256::Final(Sha256Digest& digest) {
    const bool ok =
        state_->ready && Succeeded(BCryptFinishHash(state_->hash, digest.data(),
                                                    static_cast<ULONG>(digest.size()), 0));
    // A finished CNG hash cannot take more bytes: the next message gets a new one.
    if (state_->hash != nullptr) {
        BCryptDestroyHash(state_->hash);
    }
    state_->hash = NewSha256(state_->algorithm);
    state_->ready = state_->hash != nullptr;
    return ok;
}

bool VerifyEcdsaP256Sha256(const std::uint8_t* publicKey, std::size_t publicKeySize,
                           const void* message, std::size_t messageSize,
                           const std::uint8_t* signature, std::size_t signatureSize) {
    if (publicKey == nullptr || signature == nullptr || publicKeySize != EcdsaP256PublicKeyLength ||
        publicKey[0] != 0x04 || signatureSize != EcdsaP256SignatureLength) {
        return false;
    }
    Sha256Digest digest{};
    {
        Sha256 hash;
        if (!hash.Update(message, messageSize) || !hash.Final(digest)) {
            return false;
        }
    }
    // CNG's public blob: the header, then X and Y without the leading 0x04.
    std::vector<UCHAR> blob(sizeof(BCRYPT_ECCKEY_BLOB) + 64);
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::memcpy(blob.data(), &header, sizeof(header));
    std::memcpy(blob.data() + sizeof(header), publicKey + 1, 64);
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    BCRYPT_KEY_HANDLE key = nullptr;
    bool valid = Succeeded(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_ECDSA_P256_ALGORITHM,
                                                       nullptr, 0)) &&
                 Succeeded(BCryptImportKeyPair(algorithm, nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                                               blob.data(), static_cast<ULONG>(blob.size()), 0));
    if (valid) {
        // r || s is the form CNG takes as it is.
        valid = Succeeded(BCryptVerifySignature(
            key, nullptr, digest.data(), static_cast<ULONG>(digest.size()),
            const_cast<UCHAR*>(signature), static_cast<ULONG>(signatureSize), 0));
    }
    if (key != nullptr) {
        BCryptDestroyKey(key);
    }
    if (algorithm != nullptr) {
        BCryptCloseAlgorithmProvider(algorithm, 0);
    }
    return valid;
}

}  // namespace Platform
