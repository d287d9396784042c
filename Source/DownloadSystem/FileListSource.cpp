#include "DownloadSystem/FileListSource.h"

#include <string>
#include <unordered_map>

#include "DownloadSystem/FileDownload.h"
#include "DownloadSystem/ListSignature.h"
#include "DownloadSystem/PublisherKeys.h"
#include "Platform/Paths.h"
#include "Platform/SystemError.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {

using vesk::StringUtils;

namespace {
constexpr int Ok = 200;
constexpr int NotFound = 404;
constexpr std::u16string_view ListExtension = u".txt";

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

// A memory-mode fetch of `name` in the release's folder.
void Prepare(FileDownload& download, const ListPlace& place, const std::u16string& name) {
    download.SetServer(place.host);
    download.SetRemotePath(JoinUrlPath({place.folder, name}));
    if (!place.sasToken.empty()) {
        download.SetRemoteFile(place.sasToken);
    }
    download.SetExpectedCrc(0);
}
}  // namespace

ListFetch FileListSource::Fetch(const ListPlace& place) const {
    ListFetch result;
    // A list is taken only when two fetches in a row bring the same bytes, so a list
    // replaced on the server while it is read is not half old, half new.
    FileDownload download;
    Prepare(download, place, place.listName);
    // A list is a few lines per file: an endless or huge reply is not one.
    download.SetReplyCap(MaxFileListBytes);
    // A stop of the manager ends a list fetch under way, not only the next one.
    download.SetCancelCheck(stopRequested_);
    std::string first;
    std::string listBytes;  // as received, for the signature
    bool agreed = false;
    for (int round = 0; round < MaxFetchRounds && !agreed; ++round) {
        std::string second;
        if (stopRequested_() || !FetchOnce(download, place, first, nullptr, result) ||
            !FetchOnce(download, place, second, &listBytes, result)) {
            return result;
        }
        agreed = second == first;
    }
    if (!agreed) {
        VESK_REPORT_ERROR(u"DownloadManager::FetchFileList the file list " + place.listName +
                              u" changed on every fetch",
                          0);
        return result;
    }
    if (!AcceptSignedList(place, listBytes, result)) {
        return result;
    }
    const FileList parsed = ParseFileListText(StringUtils::ToWide(first));
    if (!IsSafe(place, parsed, result.isSigned)) {
        return result;
    }
    result.files.reserve(parsed.size());
    for (const FileListEntry& entry : parsed) {
        result.files.push_back(ReadListedFile(entry, result.isSigned));
    }
    result.outcome = ListFetch::Outcome::Taken;
    return result;
}

bool FileListSource::FetchOnce(FileDownload& download, const ListPlace& place, std::string& text,
                               std::string* raw, ListFetch& result) const {
    download.DownloadToMemory();
    if (stopRequested_()) {
        return false;
    }
    if (download.GetErrorCode() == NotFound) {
        ReportNoLongerOffered();
        return false;
    }
    if (!download.Succeeded()) {
        // The pass is repeated; only a download that never gets the list ends in error.
        VESK_LOG_FAILURE(u"DownloadManager::FetchFileList the file list " + place.listName +
                             u" could not be fetched completely",
                         0);
        result.outcome = ListFetch::Outcome::Unavailable;
        return false;
    }
    text = TakeText(download, raw);
    return true;
}

bool FileListSource::AcceptSignedList(const ListPlace& place, const std::string& listBytes,
                                      ListFetch& result) const {
    const std::vector<PublisherKeys::Key> keys = PublisherKeys::Keys();
    if (keys.empty()) {
        return true;
    }
    const std::u16string signatureName = place.listName + u".sig";
    const auto refuse = [&](const std::string& reason) {
        VESK_REPORT_ERROR(u"DownloadManager::FetchFileList the file list " + place.listName +
                              u" was refused: " + StringUtils::ToWide(reason),
                          UnsafeListError);
        return false;
    };

    FileDownload download;
    Prepare(download, place, signatureName);
    download.SetReplyCap(MaxListSignatureBytes);
    download.SetCancelCheck(stopRequested_);
    download.DownloadToMemory();
    if (stopRequested_()) {
        return false;
    }
    // A missing signature is an answer, not a transfer to try again.
    if (download.GetErrorCode() == NotFound) {
        return refuse("it has no signature (" + StringUtils::ToNarrow(signatureName) +
                      " not found)");
    }
    if (!download.Succeeded()) {
        VESK_LOG_FAILURE(u"DownloadManager::FetchFileList the signature " + signatureName +
                             u" could not be fetched completely",
                         0);
        result.outcome = ListFetch::Outcome::Unavailable;
        return false;
    }
    if (download.GetErrorCode() != Ok) {
        return refuse("it has no signature (" + std::to_string(download.GetErrorCode()) + " for " +
                      StringUtils::ToNarrow(signatureName) + ")");
    }
    const vesk::ByteBuffer& data = download.GetData();
    const std::string signatureText(reinterpret_cast<const char*>(data.Data()),
                                    static_cast<std::size_t>(data.Size()));
    download.FreeData();

    std::u16string release = place.listName;
    if (release.ends_with(ListExtension)) {
        release.resize(release.size() - ListExtension.size());
    }
    const std::uint64_t lowest = ReadAcceptedListVersion(place.workFolder);
    const SignatureCheck check =
        CheckListSignature(signatureText, listBytes, StringUtils::ToNarrow(release), keys, lowest);
    if (!check.accepted) {
        return refuse(check.reason);
    }
    if (check.version > lowest && !StoreAcceptedListVersion(place.workFolder, check.version)) {
        // The list is sound; only an older one could no longer be told apart later.
        VESK_LOG_FAILURE(u"DownloadManager::FetchFileList unable to record list version " +
                             StringUtils::ToWide(std::to_string(check.version)) + u" in " +
                             place.workFolder,
                         Platform::LastSystemError());
    }
    result.isSigned = true;
    VESK_LOG_INFO(
        "DownloadManager::FetchFileList the file list is signed by the publisher, "
        "version " +
        std::to_string(check.version));
    return true;
}

bool FileListSource::IsSafe(const ListPlace& place, const FileList& parsed, bool listSigned) {
    const std::u16string program = Platform::Paths::ExecutablePath();
    // Each local name by its key, so a list of any length is checked in one go.
    std::unordered_map<std::u16string, std::u16string> localNames;
    for (const FileListEntry& entry : parsed) {
        if (!entry.HasFields()) {
            continue;
        }
        const std::u16string local = MakeLocalName(entry.Name(), place.fileSuffix);
        if (!IsPlainFileName(entry.Name()) || !IsPlainFileName(local)) {
            VESK_REPORT_ERROR(
                u"DownloadManager::FetchFileList the file list names a file "
                u"outside the download folder: \"" +
                    entry.Name() + u"\"",
                UnsafeListError);
            return false;
        }
        // Replacing the running program would lose it and start whatever the list sent.
        if (IsSameLocalPath(place.downloadFolder + u"/" + local, program)) {
            VESK_REPORT_ERROR(
                u"DownloadManager::FetchFileList the file list names the running "
                u"program: \"" +
                    entry.Name() + u"\"",
                UnsafeListError);
            return false;
        }
        // Under a signature the SHA-256 is what seals a file: a CRC-32 alone can be forged.
        if (listSigned && entry.IsComplete() &&
            (entry.fields.size() < 4 || !ParseListedSha256(entry.fields[3]))) {
            VESK_REPORT_ERROR(
                u"DownloadManager::FetchFileList the file list was refused: it names a file "
                u"without its SHA-256: \"" +
                    entry.Name() + u"\"",
                UnsafeListError);
            return false;
        }
        // Names that differ only in case are one file on Windows: each would overwrite
        // the other and no pass could verify.
        const auto [seen, added] = localNames.try_emplace(LocalPathKey(local), local);
        if (!added && seen->second != local) {
            VESK_REPORT_ERROR(
                u"DownloadManager::FetchFileList the file list names one file twice, "
                u"in different case: \"" +
                    entry.Name() + u"\"",
                UnsafeListError);
            return false;
        }
    }
    return true;
}

}  // namespace DownloadSystem
