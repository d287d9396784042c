// The release's file list: fetched from the content host until two fetches agree,
// parsed, and refused when it names a file outside the download folder.
#include <string>
#include <unordered_map>

#include "DownloadSystem/DownloadManager.h"
#include "DownloadSystem/FileDownload.h"
#include "Platform/Paths.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {

using vesk::StringUtils;

namespace {
constexpr int NotFound = 404;

// The received bytes as text, zero bytes left out; `raw` (when given) gets them all.
std::string TakeText(FileDownload& download, std::string* raw = nullptr) {
    const vesk::ByteBuffer& data = download.GetData();
    if (raw != nullptr) {
        raw->assign(reinterpret_cast<const char*>(data.Data()),
                    static_cast<std::size_t>(data.Size()));
    }
    std::string text;
    text.reserve(static_cast<std::size_t>(data.Size()));
    for (std::uint64_t i = 0; i < data.Size(); ++i) {
        if (data.Data()[i] != 0) {
            text += static_cast<char>(data.Data()[i]);
        }
    }
    download.FreeData();
    return text;
}

void ReportNoLongerOffered() {
    vesk::ReportError(
        "This version of Sorvan can no longer be downloaded.\r\nPlease download the latest "
        "version you received in an e-mail message",
        0, "", 0);
}
}  // namespace

bool DownloadManager::FetchFileList(FileList& entries) {
    entries.clear();
    listUnavailable_ = false;
    // Releases numbered like 2_5 keep their list at the root of the content host.
    if (listName_.find(u"2_5") != std::u16string::npos) {
        downloadSubdir_ = urlPrefix_;
        urlPrefix_.clear();
    }
    FileDownload download;
    download.SetServer(hostName_);
    download.SetRemotePath(JoinUrlPath({downloadSubdir_, listName_}));
    if (!sasToken_.empty()) {
        download.SetRemoteFile(sasToken_);
    }
    download.SetExpectedCrc(0);
    // A list is a few lines per file: an endless or huge reply is not one.
    download.SetReplyCap(MaxFileListBytes);
    // A stop of the manager ends a list fetch under way, not only the next one.
    download.SetCancelCheck([this] { return !IsRunning(); });

    // One fetch; false when it ended without the whole body (reported unless stopped).
    auto fetch = [&](std::string& text, std::string* raw) {
        download.DownloadToMemory();
        if (!IsRunning()) {
            return false;
        }
        if (download.GetErrorCode() == NotFound) {
            ReportNoLongerOffered();
            return false;
        }
        if (!download.Succeeded()) {
            // The pass is repeated; only a download that never gets the list ends in error.
            VESK_LOG_FAILURE(u"DownloadManager::FetchFileList the file list " + listName_ +
                                 u" could not be fetched completely",
                             0);
            listUnavailable_ = true;
            return false;
        }
        text = TakeText(download, raw);
        return true;
    };

    // A list is taken only when two fetches in a row bring the same bytes, so a list
    // replaced on the server while it is read is not half old, half new.
    std::string first;
    std::string listBytes;  // as received, for the signature
    bool agreed = false;
    for (int round = 0; round < MaxListFetchRounds && !agreed; ++round) {
        std::string second;
        if (!IsRunning() || !fetch(first, nullptr) || !fetch(second, &listBytes)) {
            return false;
        }
        agreed = second == first;
    }
    if (!agreed) {
        VESK_REPORT_ERROR(u"DownloadManager::FetchFileList the file list " + listName_ +
                              u" changed on every fetch",
                          0);
        return false;
    }

    if (!AcceptSignedList(listBytes)) {
        return false;
    }

    FileList parsed = ParseFileListText(StringUtils::ToWide(first));
    const std::u16string program = Platform::Paths::ExecutablePath();
    // Each local name by its key, so a list of any length is checked in one go.
    std::unordered_map<std::u16string, std::u16string> localNames;
    for (const FileListEntry& entry : parsed) {
        if (!entry.HasFields()) {
            continue;
        }
        if (!IsPlainFileName(entry.Name()) ||
            !IsPlainFileName(MakeLocalName(entry.Name(), fileSuffix_))) {
            VESK_REPORT_ERROR(
                u"DownloadManager::FetchFileList the file list names a file "
                u"outside the download folder: \"" +
                    entry.Name() + u"\"",
                UnsafeFileNameError);
            return false;
        }
        // Replacing the running program would lose it and start whatever the list sent.
        if (IsSameLocalPath(LocalPath(entry.Name()), program)) {
            VESK_REPORT_ERROR(
                u"DownloadManager::FetchFileList the file list names the running "
                u"program: \"" +
                    entry.Name() + u"\"",
                UnsafeFileNameError);
            return false;
        }
        // Under a signature the SHA-256 is what seals a file: a CRC-32 alone can be forged.
        if (listSigned_ && entry.IsComplete() &&
            (entry.fields.size() < 4 || !ParseListedSha256(entry.fields[3]))) {
            VESK_REPORT_ERROR(
                u"DownloadManager::FetchFileList the file list was refused: it names a file "
                u"without its SHA-256: \"" +
                    entry.Name() + u"\"",
                UnsafeFileNameError);
            return false;
        }
        // Names that differ only in case are one file on Windows: each would overwrite
        // the other and no pass could verify.
        const std::u16string local = MakeLocalName(entry.Name(), fileSuffix_);
        const auto [seen, added] = localNames.try_emplace(LocalPathKey(local), local);
        if (!added && seen->second != local) {
            VESK_REPORT_ERROR(
                u"DownloadManager::FetchFileList the file list names one file twice, "
                u"in different case: \"" +
                    entry.Name() + u"\"",
                UnsafeFileNameError);
            return false;
        }
    }
    entries = std::move(parsed);
    return true;
}

}  // namespace DownloadSystem
