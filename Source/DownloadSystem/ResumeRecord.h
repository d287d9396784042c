// The record kept beside a partial download, so a later run (after the program was closed,
// killed or the machine restarted) asks only for the rest of the file. It names the object
// and the listed size and CRC-32 it was fetched for, how many leading bytes are known good
// with their CRC-32, and the server's validator for the object. Any doubt (no record, a
// damaged one, another listed file, a file shorter than the bytes claimed) means none.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace DownloadSystem {

struct ResumeRecord {
    std::u16string remotePath;
    std::uint64_t listedSize = 0;
    std::uint32_t listedCrc = 0;
    std::uint64_t goodBytes = 0;
    std::uint32_t goodCrc = 0;
    std::string validator;

    // The record's file for the download target `target`.
    static std::u16string PathFor(const std::u16string& target) { return target + u".resume"; }

    // The record as stored: one "name=value" line per field and a last line with the CRC-32
    // of the lines before it, so a torn or edited record reads as none.
    std::string Format() const;
    static std::optional<ResumeRecord> Parse(std::string_view text);

    // Writes the record for `target` in place (a torn write reads as none). False when it
    // cannot be written; nothing is logged, a missing record only costs bytes fetched again.
    bool Save(const std::u16string& target) const;
    // The record for `target`, when there is one that reads whole and is for the listed
    // object given.
    static std::optional<ResumeRecord> Load(const std::u16string& target,
                                            const std::u16string& remotePath,
                                            std::uint64_t listedSize, std::uint32_t listedCrc);
};

}  // namespace DownloadSystem
