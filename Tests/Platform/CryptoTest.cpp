// Crypto digests against published test vectors.
#include "Platform/Crypto.h"

#include <gtest/gtest.h>

#include <string>

namespace Platform {
namespace {

std::string Hex(const std::vector<std::uint8_t>& bytes) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string out;
    for (const std::uint8_t byte : bytes) {
        out += Digits[byte >> 4];
        out += Digits[byte & 0xF];
    }
    return out;
}

TEST(CryptoTest, DigestsMatchKnownVectors) {
    const std::string message = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    EXPECT_EQ(Hex(ComputeHash(HashAlgorithm::Sha1, message.data(), message.size())),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(Hex(ComputeHash(HashAlgorithm::Sha256, message.data(), message.size())),
              "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    EXPECT_EQ(Hex(ComputeHash(HashAlgorithm::Md5, "message digest", 14)),
              "f96b697d7cb7938d525a2f31aaf161d0");
    unsigned long error = 99;
    EXPECT_EQ(Hex(ComputeHash(HashAlgorithm::Sha1, nullptr, 0, &error)),
              "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(error, 0u);
    for (const auto algorithm : {HashAlgorithm::Sha1, HashAlgorithm::Md5, HashAlgorithm::Sha256}) {
        EXPECT_EQ(ComputeHash(algorithm, "x", 1).size(), HashLength(algorithm));
    }
}

}  // namespace
}  // namespace Platform
