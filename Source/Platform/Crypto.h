// Message digests (SHA-1, MD5, SHA-256) over a byte block. A backend computes the
// digest with the system's crypto service: OpenSSL EVP on Linux, CryptoAPI on Windows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace Platform {

enum class HashAlgorithm { Sha1, Md5, Sha256 };

// Digest length in bytes: 20 for SHA-1, 16 for MD5, 32 for SHA-256.
constexpr std::size_t HashLength(HashAlgorithm algorithm) {
    switch (algorithm) {
        case HashAlgorithm::Sha1:
            return 20;
        case HashAlgorithm::Md5:
            return 16;
        case HashAlgorithm::Sha256:
            return 32;
    }
    return 0;
}

// Computes the digest of `size` bytes at `data` (data may be null when size is 0).
// Returns the raw digest bytes, or an empty vector when the crypto service fails;
// in that case `errorNumber` (when given) receives a non-zero backend error code and
// `failedCall` (when given) the name of the system call that failed.
std::vector<std::uint8_t> ComputeHash(HashAlgorithm algorithm, const void* data, std::size_t size,
                                      unsigned long* errorNumber = nullptr,
                                      const char** failedCall = nullptr);

}  // namespace Platform
