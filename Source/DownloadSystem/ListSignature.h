// The publisher's signature of a release's file list (`<list name>.sig` beside the list)
// and its check. The file is ASCII, lines ending in "\n", exactly:
//
//     release-signature 1
//     release <release name>
//     version <decimal, 1 or more>
//     list-sha256 <64 lower-case hex digits>
//     signature <128 lower-case hex digits: r and s>
//
// The signature (ECDSA P-256 over SHA-256) covers the first four lines, line ends
// included. The highest version taken for a release is kept in its work folder, so a
// list signed for an earlier version is refused later.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "DownloadSystem/PublisherKeys.h"

namespace DownloadSystem {

// Signature files are a few hundred bytes; a reply far above that is not one.
inline constexpr std::uint64_t MaxListSignatureBytes = 4096;

struct ListSignature {
    std::string release;
    std::uint64_t version = 0;
    std::array<std::uint8_t, 32> listSha256{};
    std::array<std::uint8_t, 64> signature{};
    std::string_view signedText;  // the first four lines, within the parsed text
};

// The fields of a signature file, or nullopt for any other form (a missing or extra
// line, a field out of order, upper-case or short hex, a version of 0 or with a
// leading zero, a line end other than "\n").
std::optional<ListSignature> ParseListSignature(std::string_view text);

struct SignatureCheck {
    bool accepted = false;
    std::uint64_t version = 0;  // when accepted
    std::string reason;         // when refused, for the user
};

// Accepts `listBytes` when `signatureText` is a signature of one of `keys`, for
// `release`, at `lowestVersion` or above, over exactly these bytes. Refusals say why.
SignatureCheck CheckListSignature(std::string_view signatureText, std::string_view listBytes,
                                  std::string_view release,
                                  const std::vector<PublisherKeys::Key>& keys,
                                  std::uint64_t lowestVersion);

// The highest list version accepted for the release whose work folder this is; 0 when
// none was (or the record cannot be read).
std::uint64_t ReadAcceptedListVersion(const std::u16string& workFolder);

// Records `version` as accepted (creating the folder). False when it cannot be written.
bool StoreAcceptedListVersion(const std::u16string& workFolder, std::uint64_t version);

}  // namespace DownloadSystem
