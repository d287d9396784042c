// One file of a release's list, its fields read: what the engine fetches, checks and
// counts for that file.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "DownloadSystem/FileList.h"

namespace DownloadSystem {

struct ListedFile {
    // Field 0: the name on the content server; empty only for an entry without fields
    // (a ";" with nothing before it), which names nothing.
    std::u16string name;
    // Field 1 as listed (0 when absent); counts toward the total.
    std::uint32_t size = 0;
    // Field 1 when it is a plain decimal number: the size the file must have.
    std::optional<std::uint64_t> sizeBound;
    // Field 2, the expected CRC-32 (0 when absent).
    std::int32_t crc = 0;
    // Field 3 of a list taken under the publisher's signature; nothing otherwise.
    std::optional<std::array<std::uint8_t, 32>> sha256;
    // Name, size and CRC are all there: only such a file is fetched and verified.
    bool complete = false;
    // The fields after the CRC, as listed.
    std::vector<std::u16string> further;
};

// The fields of an entry. The SHA-256 is read only when
// `listSigned`: an unsigned list never reads its fourth field.
ListedFile ReadListedFile(const FileListEntry& entry, bool listSigned);

}  // namespace DownloadSystem
