// Signature computation with OpenSSL's MD5 and Base64.
#include "SignedPath.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace Tools {

std::string SignatureFor(std::string_view expiryText, std::string_view subdir,
                         std::string_view secret) {
    std::string input;
    input.reserve(expiryText.size() + 1 + subdir.size() + secret.size());
    input.append(expiryText).append("/").append(subdir).append(secret);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_Digest(input.data(), input.size(), digest, &digestLength, EVP_md5(), nullptr) != 1) {
        return {};
    }
    unsigned char encoded[64];
    int length = EVP_EncodeBlock(encoded, digest, static_cast<int>(digestLength));
    std::string signature(reinterpret_cast<char*>(encoded), static_cast<size_t>(length));
    for (char& c : signature) {
        if (c == '/') {
            c = '_';
        } else if (c == '+') {
            c = '-';
        }
    }
    return signature;
}

bool SignaturesEqual(std::string_view a, std::string_view b) {
    return a.size() == b.size() && CRYPTO_memcmp(a.data(), b.data(), a.size()) == 0;
}

}  // namespace Tools
