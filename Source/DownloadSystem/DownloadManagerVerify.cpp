// The file checks: a file on disk against its expected CRC-32, and the verification
// pass over the whole list. Files are read in blocks with the CRC computed as they
// come, so a check needs the same small buffer whatever the file's size.
#include <cstdint>
#include <string>

#include "DownloadSystem/CRC.h"
#include "DownloadSystem/DownloadManager.h"
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
};

// The CRC-32 of the whole file, extended block by block as it is read.
ReadResult ChecksumFile(const std::u16string& path, FileChecksum& out) {
    Platform::File file = Platform::File::OpenForReading(path);
    if (!file.IsOpen()) {
        out.errorNumber = Platform::LastSystemError();
        return ReadResult::OpenFailed;
    }
    if (!CRC().ComputeOpenFile(file, out.crc, out.bytes)) {
        out.errorNumber = Platform::LastSystemError();
        return ReadResult::ReadFailed;
    }
    return ReadResult::Read;
}

}  // namespace

bool DownloadManager::CRCCheckFile(const std::u16string& path, std::int32_t expected) {
    FileChecksum sum;
    switch (ChecksumFile(path, sum)) {
        case ReadResult::OpenFailed:
            return false;
        case ReadResult::ReadFailed:
            VESK_REPORT_ERROR(u"DownloadManager::CRCCheckFile unable read file " + path,
                              sum.errorNumber);
            return false;
        case ReadResult::Read:
            break;
    }
    return sum.crc == static_cast<std::uint32_t>(expected);
}

bool DownloadManager::CheckFileFromCRCInfo(const FileListEntry& entry) {
    currentFile_ = LocalPath(entry.Name());
    const std::u16string path = currentFile_;
    if (!Platform::Files::Exists(path)) {
        return false;
    }
    FileChecksum sum;
    switch (ChecksumFile(path, sum)) {
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
    if (sum.crc == static_cast<std::uint32_t>(expected)) {
        verifiedBytes_ += sum.bytes;
        return true;
    }
    VESK_REPORT_ERROR(u"CheckFileFromCRCInfo CRC is not correct: " + path,
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
