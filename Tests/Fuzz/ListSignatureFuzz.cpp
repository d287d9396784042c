// The list's signature file as the engine reads it: parsed, and checked against a list
// and a key. A parsed file must print back to the very bytes it came from, its signed
// part must be its first four lines, and no random file may pass the check.
#include <cstdlib>
#include <string>

#include "DownloadSystem/ListSignature.h"
#include "FuzzInput.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::SilenceStandardOutput();
    return 0;
}

namespace {
std::string Hex(const std::uint8_t* bytes, std::size_t size) {
    static constexpr char Digits[] = "0123456789abcdef";
    std::string out;
    for (std::size_t i = 0; i < size; ++i) {
        out += Digits[bytes[i] >> 4];
        out += Digits[bytes[i] & 0xF];
    }
    return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const std::string list = input.Piece();
    const std::string text = input.Rest();
    const auto parsed = DownloadSystem::ParseListSignature(text);
    if (parsed) {
        const std::string body = "release-signature 1\nrelease " + parsed->release + "\nversion " +
                                 std::to_string(parsed->version) + "\nlist-sha256 " +
                                 Hex(parsed->listSha256.data(), parsed->listSha256.size()) + "\n";
        if (parsed->signedText != body ||
            text != body + "signature " + Hex(parsed->signature.data(), parsed->signature.size()) +
                        "\n") {
            std::abort();
        }
    }
    // A publisher's key (the crypto test's): nothing a fuzzer makes is signed by it.
    static const std::vector<DownloadSystem::PublisherKeys::Key> keys = {
        *DownloadSystem::PublisherKeys::FromHex(
            "04517a7664f09011328aea33098d9d48edb3a6f5553012e724c33c2debaf36a84333e5f0a9d1b57cca13"
            "266c7d73b3588e15562a54946623067aeb4f811a1ad1c8")};
    if (DownloadSystem::CheckListSignature(text, list, "Sorvan_9_5", keys, 0).accepted) {
        std::abort();
    }
    return 0;
}
