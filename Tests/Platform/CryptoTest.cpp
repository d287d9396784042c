// Crypto digests against published test vectors, and the signature check against a
// signature made with the openssl command line.
#include "Platform/Crypto.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>

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

std::vector<std::uint8_t> FromHex(std::string_view hex) {
    std::vector<std::uint8_t> bytes;
    for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
        bytes.push_back(
            static_cast<std::uint8_t>(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    }
    return bytes;
}

TEST(CryptoTest, Sha256InPiecesMatchesTheVectorAndStartsOverAfterFinal) {
    const std::string message = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    Sha256 hash;
    for (const std::size_t cut :
         {std::size_t{0}, std::size_t{1}, std::size_t{31}, message.size()}) {
        ASSERT_TRUE(hash.Update(message.data(), cut));
        ASSERT_TRUE(hash.Update(nullptr, 0));
        ASSERT_TRUE(hash.Update(message.data() + cut, message.size() - cut));
        Sha256Digest digest{};
        ASSERT_TRUE(hash.Final(digest));
        EXPECT_EQ(Hex({digest.begin(), digest.end()}),
                  "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1")
            << "cut at " << cut;
    }
    Sha256Digest empty{};
    ASSERT_TRUE(hash.Final(empty));
    EXPECT_EQ(Hex({empty.begin(), empty.end()}),
              "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
}

// openssl ecparam -name prime256v1 -genkey; openssl dgst -sha256 -sign, r and s from
// openssl asn1parse; the key from openssl ec -pubout -outform DER (its last 65 bytes).
constexpr std::string_view SignerKey =
    "04517a7664f09011328aea33098d9d48edb3a6f5553012e724c33c2debaf36a84333e5f0a9d1b57cca13266c7d"
    "73b3588e15562a54946623067aeb4f811a1ad1c8";
constexpr std::string_view SignedMessage = "release Sorvan_9_5 version 3";
constexpr std::string_view Signature =
    "a42f656c60c45b1b0df190da72a0c50f2ae699ef182655252b2b7291b4bcd025"
    "af3463bf329247bd99920d9a531bff61b05a63ff7510316c9fc99d29e686984b";
// Another P-256 key (the generator point).
constexpr std::string_view OtherKey =
    "046b17d1f2e12c4247f8bce6e563a440f277037d812deb33a0f4a13945d898c2964fe342e2fe1a7f9b8ee7eb4a"
    "7c0f9e162bce33576b315ececbb6406837bf51f5";

// The signer's key with the last bit of Y flipped: no point of the curve.
constexpr std::string_view OffCurveKey =
    "04517a7664f09011328aea33098d9d48edb3a6f5553012e724c33c2debaf36a84333e5f0a9d1b57cca13266c7d"
    "73b3588e15562a54946623067aeb4f811a1ad1c9";

TEST(CryptoTest, EcdsaSignatureIsAcceptedOnlyWhenKeyMessageAndSignatureAllMatch) {
    struct Row {
        const char* change;
        std::string_view key;
        std::string message;
        std::string_view signature;
        int flipSignatureByte;
        bool valid;
    };
    const std::string message(SignedMessage);
    const std::string zeros(128, '0');
    const Row rows[] = {
        {"none", SignerKey, message, Signature, -1, true},
        {"one message byte", SignerKey, "release Sorvan_9_5 version 4", Signature, -1, false},
        {"message cut", SignerKey, message.substr(0, message.size() - 1), Signature, -1, false},
        {"r changed", SignerKey, message, Signature, 3, false},
        {"s changed", SignerKey, message, Signature, 63, false},
        {"another key", OtherKey, message, Signature, -1, false},
        {"r and s zero", SignerKey, message, zeros, -1, false},
        {"signature cut", SignerKey, message, Signature.substr(0, 126), -1, false},
        {"key cut", SignerKey.substr(0, 128), message, Signature, -1, false},
        {"key not a curve point", OffCurveKey, message, Signature, -1, false},
    };
    for (const Row& row : rows) {
        const std::vector<std::uint8_t> key = FromHex(row.key);
        std::vector<std::uint8_t> signature = FromHex(row.signature);
        if (row.flipSignatureByte >= 0) {
            signature[static_cast<std::size_t>(row.flipSignatureByte)] ^= 0x01;
        }
        EXPECT_EQ(VerifyEcdsaP256Sha256(key.data(), key.size(), row.message.data(),
                                        row.message.size(), signature.data(), signature.size()),
                  row.valid)
            << row.change;
    }
}

}  // namespace
}  // namespace Platform
