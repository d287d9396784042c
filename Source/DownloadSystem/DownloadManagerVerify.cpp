// The file checks: a file on disk against its expected CRC-32, and the verification
// pass over the whole list. Files are read in blocks with the CRC computed as they
// come, so a check needs the same small buffer whatever the file's size.
#include <cstdint>
#include <optional>
#include <string>

#include "DownloadSystem/CRC.h"
#include "DownloadSystem/DownloadManager.h"
#include "Platform/Crypto.h"
#include "Platform/Files.h"
#include "Platform/SystemError.h"
#include "Support/ErrorLog.h"

namespace DownloadSystem {

namespace {

enum class ReadResult { Read, OpenFailed, ReadFailed };

struct FileChecksum {
    std::uint32_t crc = 0;
    std::uint64_t bytes = 0;
    int errorNumber = 0;
    Platform::Sha256Digest sha256{};
};

// The CRC-32 of the whole file, extended block by block as it is read, and its SHA-256
// from the same blocks when `withSha256`.
ReadResult ChecksumFile(const std::u16string& path, FileChecksum& out, bool withSha256 = false) {
    Platform::File file = Platform::File::OpenForReading(path);
    if (!file.IsOpen()) {
        out.errorNumber = Platform::LastSystemError();
        return ReadResult::OpenFailed;
    }
    // Made only when asked for: an unsigned list's checks cost what they did.
    std::optional<Platform::Sha256> hash;
    if (withSha256) {
        hash.emplace();
    }
    if (!CRC().ComputeOpenFile(file, out.crc, out.bytes, hash ? &*hash : nullptr) ||
        (hash && !hash->Final(out.sha256))) {
        out.errorNumber = Platform::LastSystemError();
        return ReadResult::ReadFailed;
    }
    return ReadResult::Read;
}

}  // namespace

bool DownloadManager::CRCCheckFile(const std::u16string& path, std::int32_t expected) {
    return CRCCheckFile(path, expected, std::nullopt);
}

std::optional<std::array<std::uint8_t, 32>> DownloadManager::ExpectedSha256(
    const FileListEntry& entry) const {
    if (!listSigned_ || entry.fields.size() < 4) {
        return std::nullopt;
    }
    return ParseListedSha256(entry.fields[3]);
}

bool DownloadManager::CRCCheckFile(const std::u16string& path, std::int32_t expected,
                                   const std::optional<std::array<std::uint8_t, 32>>& sha256) {
    FileChecksum sum;
    switch (ChecksumFile(path, sum, sha256.has_value())) {
        case ReadResult::OpenFailed:
            return false;
        case ReadResult::ReadFailed:
            VESK_REPORT_ERROR(u"DownloadManager::CRCCheckFile unable read file " + path,
                              sum.errorNumber);
            return false;
        case ReadResult::Read:
            break;
    }
    return sum.crc == static_cast<std::uint32_t>(expected) && (!sha256 || sum.sha256 == *sha256);
}

bool DownloadManager::CheckFileFromCRCInfo(const FileListEntry& entry) {
    currentFile_ = LocalPath(entry.Name());
    const std::u16string path = currentFile_;
    if (!Platform::Files::Exists(path)) {
        return false;
    }
    const auto sha256 = ExpectedSha256(entry);
    FileChecksum sum;
    switch (ChecksumFile(path, sum, sha256.has_value())) {
        case ReadResult::OpenFailed:
            VESK_REPORT_ERROR(u"Couldn't read file " + path, sum.errorNumber);
            return false;
        case ReadResult::ReadFailed:
            VESK_REPORT_ERROR(u"Unable to read from file" + path, sum.errorNumber);
            return false;
        case ReadResult::Read:
            break;
    }
    // An empty file is complete only when the list says the file is empty.
    if (sum.bytes == 0 && ListedSizeBound(entry.fields[1]) != std::optional<std::uint64_t>(0)) {
        return false;
    }
    const std::int32_t expected = ParseExpectedCrc(entry.fields[2]);
    const bool crcRight = sum.crc == static_cast<std::uint32_t>(expected);
    if (crcRight && (!sha256 || sum.sha256 == *sha256)) {
        verifiedBytes_ += sum.bytes;
        return true;
    }
    // A right CRC with another SHA-256 is a damaged file all the same.
    VESK_REPORT_ERROR(u"CheckFileFromCRCInfo " + std::u16string(crcRight ? u"SHA-256" : u"CRC") +
                          u" is not correct: " + path,
                      vesk::ErrorNumber::CrcMismatch);
    if (!DeleteExpectedFile(path)) {
        VESK_REPORT_ERROR(u"Couldn't delete corrupt file " + path, Platform::LastSystemError());
    }
    return false;
}

bool DownloadManager::VerifyDownload() {
    verifiedBytes_ = 0;
    FileList entries;
    if (!FetchFileList(entries) || entries.empty()) {
        return false;
    }
    ComputeTotalSize(entries);
    baselineBytes_ = 0;
    verifying_ = true;
    for (const FileListEntry& entry : entries) {
        if (!IsRunning()) {
            break;
        }
        if (!entry.IsComplete()) {
            continue;
        }
        if (!CheckFileFromCRCInfo(entry)) {
            verifying_ = false;
            return false;
        }
    }
    verifying_ = false;
    return IsRunning();
}

}  // namespace DownloadSystem
