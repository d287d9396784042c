// The file checks: a file on disk against its expected CRC-32 (and SHA-256 under a
// signed list), and the verification pass over the whole list. Files are read in blocks
// with the sums computed as they come, so a check needs the same small buffer whatever
// the file's size.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "DownloadSystem/ListedFile.h"

namespace DownloadSystem {

class FileVerifier {
public:
    // How the pass reaches its owner: whether to stop, where a listed file lies, and how
    // a damaged file is deleted (announced to the folder watcher first).
    struct Hooks {
        std::function<bool()> stopRequested;
        std::function<std::u16string(const ListedFile&)> localPath;
        std::function<bool(const std::u16string&)> deleteFile;
    };

    explicit FileVerifier(Hooks hooks) : hooks_(std::move(hooks)) {}

    // True when the file can be read and its CRC-32 equals `expected` (all 32 bits), and,
    // when `sha256` is given, it has that SHA-256 too (both from one read). Missing or
    // unopenable files give false without an entry; a failed read is reported.
    static bool CRCCheckFile(const std::u16string& path, std::int32_t expected,
                             const std::optional<std::array<std::uint8_t, 32>>& sha256);

    // The verification of one listed file at `path`: true when it is there with the
    // expected sums (its size is then added to `verifiedBytes`). A wrong one is reported
    // (-3) and the file deleted so the next pass fetches it again.
    bool CheckFile(const ListedFile& file, const std::u16string& path,
                   std::atomic<std::uint64_t>& verifiedBytes) const;

    // Checks every complete file in order until one fails or a stop is requested; true
    // when all passed.
    bool VerifyAll(const std::vector<ListedFile>& files,
                   std::atomic<std::uint64_t>& verifiedBytes) const;

private:
    Hooks hooks_;
};

}  // namespace DownloadSystem
