// Windows backend of Crypto.h: CryptoAPI hashes from the AES provider (it offers SHA-1,
// MD5 and SHA-256 alike), one verify-only context per call.
#include "Platform/Crypto.h"

#include <windows.h>

#include <wincrypt.h>

#include <algorithm>

namespace Platform {

std::vector<std::uint8_t> ComputeHash(HashAlgorithm algorithm, const void* data, std::size_t size,
                                      unsigned long* errorNumber) {
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
    const auto* bytes = static_cast<const BYTE*>(data);
    bool ok = CryptAcquireContextW(&provider, nullptr, nullptr, PROV_RSA_AES,
                                   CRYPT_VERIFYCONTEXT | CRYPT_SILENT) &&
              CryptCreateHash(provider, id, 0, 0, &hash);
    // CryptHashData takes 32-bit lengths; bigger blocks go in pieces.
    std::size_t done = 0;
    while (ok && done < size) {
        const std::size_t piece = std::min<std::size_t>(size - done, 0x40000000u);
        ok = CryptHashData(hash, bytes + done, static_cast<DWORD>(piece), 0);
        done += piece;
    }
    DWORD length = static_cast<DWORD>(digest.size());
    ok = ok && CryptGetHashParam(hash, HP_HASHVAL, digest.data(), &length, 0) &&
         length == digest.size();
    if (!ok) {
        failure = GetLastError();
        digest.clear();
    }
    if (hash != 0) {
        CryptDestroyHash(hash);
    }
    if (provider != 0) {
        CryptReleaseContext(provider, 0);
    }
    if (!ok && errorNumber != nullptr) {
        *errorNumber = failure != 0 ? failure : static_cast<unsigned long>(NTE_FAIL);
    }
    return digest;
}

}  // namespace Platform
