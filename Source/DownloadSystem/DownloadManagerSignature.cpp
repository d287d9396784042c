// The publisher's signature of the file list: fetched beside the list and checked
// before anything of the list is acted on.
#include <string>

#include "DownloadSystem/DownloadManager.h"
#include "DownloadSystem/FileDownload.h"
#include "DownloadSystem/ListSignature.h"
#include "DownloadSystem/PublisherKeys.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {

using vesk::StringUtils;

namespace {
constexpr int Ok = 200;
constexpr int NotFound = 404;
constexpr std::u16string_view ListExtension = u".txt";
}  // namespace

bool DownloadManager::AcceptSignedList(const std::string& listBytes) {
    listSigned_ = false;
    const std::vector<PublisherKeys::Key> keys = PublisherKeys::Keys();
    if (keys.empty()) {
        return true;
    }
    const std::u16string signatureName = listName_ + u".sig";
    const auto refuse = [&](const std::string& reason) {
        VESK_REPORT_ERROR(u"DownloadManager::FetchFileList the file list " + listName_ +
                              u" was refused: " + StringUtils::ToWide(reason),
                          UnsafeFileNameError);
        return false;
    };

    FileDownload download;
    download.SetServer(hostName_);
    download.SetRemotePath(JoinUrlPath({downloadSubdir_, signatureName}));
    if (!sasToken_.empty()) {
        download.SetRemoteFile(sasToken_);
    }
    download.SetExpectedCrc(0);
    download.SetReplyCap(MaxListSignatureBytes);
    download.SetCancelCheck([this] { return !IsRunning(); });
    download.DownloadToMemory();
    if (!IsRunning()) {
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
        listUnavailable_ = true;
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

    std::u16string release = listName_;
    if (release.ends_with(ListExtension)) {
        release.resize(release.size() - ListExtension.size());
    }
    const std::uint64_t lowest = ReadAcceptedListVersion(workFolder_);
    const SignatureCheck check =
        CheckListSignature(signatureText, listBytes, StringUtils::ToNarrow(release), keys, lowest);
    if (!check.accepted) {
        return refuse(check.reason);
    }
    if (check.version > lowest && !StoreAcceptedListVersion(workFolder_, check.version)) {
        // The list is sound; only an older one could no longer be told apart later.
        VESK_LOG_FAILURE(u"DownloadManager::FetchFileList unable to record list version " +
                             StringUtils::ToWide(std::to_string(check.version)) + u" in " +
                             workFolder_,
                         Platform::LastSystemError());
    }
    listSigned_ = true;
    VESK_LOG_INFO(
        "DownloadManager::FetchFileList the file list is signed by the publisher, "
        "version " +
        std::to_string(check.version));
    return true;
}

}  // namespace DownloadSystem
