// Windows backend of Crypto.h: CryptoAPI hashes from the AES provider (it offers SHA-1,
// MD5 and SHA-256 alike), one verify-only context per call.
#include "Platform/Crypto.h"

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>

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
