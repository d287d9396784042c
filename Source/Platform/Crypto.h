// Message digests (SHA-1, MD5, SHA-256) over a byte block, an incremental SHA-256, and
// the check of a publisher's ECDSA P-256 signature. A backend computes them with the
// system's crypto service: OpenSSL on Linux, CryptoAPI and CNG on Windows.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
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

using Sha256Digest = std::array<std::uint8_t, 32>;

// SHA-256 over bytes that arrive in pieces (a file as it is written or read). Update
// and Final return false when the crypto service fails; the digest is then unusable.
// After Final the object starts over, ready for the next message.
class Sha256 {
public:
    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    bool Update(const void* data, std::size_t size);
    bool Final(Sha256Digest& digest);

private:
    struct State;
    std::unique_ptr<State> state_;
};

// Lengths of the public key (an uncompressed point: 0x04, X, Y) and of the signature
// (r and s, 32 bytes each, big-endian) that VerifyEcdsaP256Sha256 takes.
inline constexpr std::size_t EcdsaP256PublicKeyLength = 65;
inline constexpr std::size_t EcdsaP256SignatureLength = 64;

// True only when `signature` is a valid ECDSA P-256 signature of the SHA-256 of
// `message` under `publicKey`. Keys or signatures of another length, a point off the
// curve and any failure of the crypto service give false.
bool VerifyEcdsaP256Sha256(const std::uint8_t* publicKey, std::size_t publicKeySize,
                           const void* message, std::size_t messageSize,
                           const std::uint8_t* signature, std::size_t signatureSize);

}  // namespace Platform
