#include "DownloadSystem/FileVerifier.h"

#include "DownloadSystem/CRC.h"
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
ReadResult ChecksumFile(const std::u16string& path, FileChecksum& out, bool withSha256) {
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

bool FileVerifier::CRCCheckFile(const std::u16string& path, std::int32_t expected,
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

bool FileVerifier::CheckFile(const ListedFile& file, const std::u16string& path,
                             std::atomic<std::uint64_t>& verifiedBytes) const {
    if (!Platform::Files::Exists(path)) {
        return false;
    }
    FileChecksum sum;
    switch (ChecksumFile(path, sum, file.sha256.has_value())) {
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
    if (sum.bytes == 0 && file.sizeBound != std::optional<std::uint64_t>(0)) {
        return false;
    }
    const bool crcRight = sum.crc == static_cast<std::uint32_t>(file.crc);
    if (crcRight && (!file.sha256 || sum.sha256 == *file.sha256)) {
        verifiedBytes += sum.bytes;
        return true;
    }
    // A right CRC with another SHA-256 is a damaged file all the same.
    VESK_REPORT_ERROR(u"CheckFileFromCRCInfo " + std::u16string(crcRight ? u"SHA-256" : u"CRC") +
                          u" is not correct: " + path,
                      vesk::ErrorNumber::CrcMismatch);
    if (!hooks_.deleteFile(path)) {
        VESK_REPORT_ERROR(u"Couldn't delete corrupt file " + path, Platform::LastSystemError());
    }
    return false;
}

bool FileVerifier::VerifyAll(const std::vector<ListedFile>& files,
                             std::atomic<std::uint64_t>& verifiedBytes) const {
    for (const ListedFile& file : files) {
        if (hooks_.stopRequested()) {
            return false;
        }
        if (file.complete && !CheckFile(file, hooks_.localPath(file), verifiedBytes)) {
            return false;
        }
    }
    return true;
}

}  // namespace DownloadSystem
