// Reading and checking the publisher's signature of a file list, and the record of
// the highest version taken.
#include "DownloadSystem/ListSignature.h"

#include <limits>

#include "Platform/Crypto.h"
#include "Platform/Files.h"

namespace DownloadSystem {

namespace {

// Takes one "<label> <value>\n" line off the front of `rest`.
bool TakeLine(std::string_view& rest, std::string_view label, std::string_view& value) {
    if (!rest.starts_with(label) || rest.size() <= label.size() || rest[label.size()] != ' ') {
        return false;
    }
    const std::size_t end = rest.find('\n');
    if (end == std::string_view::npos) {
        return false;
    }
    value = rest.substr(label.size() + 1, end - label.size() - 1);
    rest.remove_prefix(end + 1);
    return true;
}

bool IsLowerHex(std::string_view text) {
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) {
            return false;
        }
    }
    return true;
}

template <std::size_t N>
bool ReadHex(std::string_view text, std::array<std::uint8_t, N>& out) {
    if (text.size() != 2 * N || !IsLowerHex(text)) {
        return false;
    }
    const auto bytes = PublisherKeys::FromHex(text);
    if (!bytes) {
        return false;
    }
    std::copy(bytes->begin(), bytes->end(), out.begin());
    return true;
}

// A decimal of 1 or more without a leading zero, within 64 bits.
std::optional<std::uint64_t> ReadVersion(std::string_view text) {
    if (text.empty() || text.size() > 20 || text[0] == '0') {
        return std::nullopt;
    }
    std::uint64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') {
            return std::nullopt;
        }
        const std::uint64_t digit = static_cast<std::uint64_t>(c - '0');
        if (value > (std::numeric_limits<std::uint64_t>::max() - digit) / 10) {
            return std::nullopt;
        }
        value = value * 10 + digit;
    }
    return value;
}

bool IsPrintableName(std::string_view text) {
    for (const char c : text) {
        if (c < 0x21 || c > 0x7E) {
            return false;
        }
    }
    return !text.empty();
}

std::u16string RecordPath(const std::u16string& workFolder) {
    return workFolder + u"/list-version";
}

}  // namespace

std::optional<ListSignature> ParseListSignature(std::string_view text) {
    std::string_view rest = text;
    constexpr std::string_view Header = "release-signature 1\n";
    if (!rest.starts_with(Header)) {
        return std::nullopt;
    }
    rest.remove_prefix(Header.size());
    ListSignature parsed;
    std::string_view release;
    std::string_view version;
    std::string_view listHash;
    std::string_view signature;
    if (!TakeLine(rest, "release", release) || !IsPrintableName(release) ||
        !TakeLine(rest, "version", version) || !TakeLine(rest, "list-sha256", listHash) ||
        !ReadHex(listHash, parsed.listSha256)) {
        return std::nullopt;
    }
    const std::size_t signedLength = text.size() - rest.size();
    if (!TakeLine(rest, "signature", signature) || !ReadHex(signature, parsed.signature) ||
        !rest.empty()) {
        return std::nullopt;
    }
    const auto number = ReadVersion(version);
    if (!number) {
        return std::nullopt;
    }
    parsed.release = std::string(release);
    parsed.version = *number;
    parsed.signedText = text.substr(0, signedLength);
    return parsed;
}

SignatureCheck CheckListSignature(std::string_view signatureText, std::string_view listBytes,
                                  std::string_view release,
                                  const std::vector<PublisherKeys::Key>& keys,
                                  std::uint64_t lowestVersion) {
    SignatureCheck check;
    const std::optional<ListSignature> parsed = ParseListSignature(signatureText);
    if (!parsed) {
        check.reason = "its signature file is not a signature";
        return check;
    }
    bool signedByPublisher = false;
    for (const PublisherKeys::Key& key : keys) {
        if (Platform::VerifyEcdsaP256Sha256(key.data(), key.size(), parsed->signedText.data(),
                                            parsed->signedText.size(), parsed->signature.data(),
                                            parsed->signature.size())) {
            signedByPublisher = true;
            break;
        }
    }
    // Nothing in an unsigned file can be believed, so this comes first.
    if (!signedByPublisher) {
        check.reason = "it is not signed by the publisher";
        return check;
    }
    if (parsed->release != release) {
        check.reason = "it is signed for another release (" + parsed->release + ")";
        return check;
    }
    if (parsed->version < lowestVersion) {
        check.reason = "it is signed for version " + std::to_string(parsed->version) +
                       ", older than version " + std::to_string(lowestVersion) + " taken before";
        return check;
    }
    Platform::Sha256 hash;
    Platform::Sha256Digest digest{};
    if (!hash.Update(listBytes.data(), listBytes.size()) || !hash.Final(digest)) {
        check.reason = "its SHA-256 could not be computed";
        return check;
    }
    if (digest != parsed->listSha256) {
        check.reason = "its text is not the text the publisher signed";
        return check;
    }
    check.accepted = true;
    check.version = parsed->version;
    return check;
}

std::uint64_t ReadAcceptedListVersion(const std::u16string& workFolder) {
    Platform::File file = Platform::File::OpenForReading(RecordPath(workFolder));
    if (!file.IsOpen()) {
        return 0;
    }
    char text[32];
    std::size_t read = 0;
    if (!file.Read(text, sizeof(text), read) || read == 0 || read == sizeof(text)) {
        return 0;
    }
    return ReadVersion(std::string_view(text, read)).value_or(0);
}

bool StoreAcceptedListVersion(const std::u16string& workFolder, std::uint64_t version) {
    if (!Platform::Files::MakeDirectoryPath(workFolder)) {
        return false;
    }
    const std::string text = std::to_string(version);
    Platform::File file = Platform::File::CreateForWriting(RecordPath(workFolder));
    return file.IsOpen() && file.Write(text.data(), text.size()) && file.Close();
}

}  // namespace DownloadSystem
