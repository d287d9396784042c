// The download manager thread: carries one download of a release from the file list
// to the setup launch in passes (check what is on disk, fetch what is missing or
// damaged, verify the set, at most eight passes), keeps the counters the interface
// shows, and receives the file workers' notifications. Also the manifest request and
// the log report, which run on the caller's thread. The manifest request, the file
// list, the file checks, the hosts check, the setup launch and the log report are
// parts of their own that the manager owns and delegates to.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "DownloadSystem/FileListSource.h"
#include "DownloadSystem/FileSystemWatcher.h"
#include "DownloadSystem/FileVerifier.h"
#include "DownloadSystem/HostsCheck.h"
#include "DownloadSystem/IDownloadListener.h"
#include "DownloadSystem/ListedFile.h"
#include "DownloadSystem/LogReport.h"
#include "DownloadSystem/Manifest.h"
#include "DownloadSystem/ManifestRequest.h"
#include "DownloadSystem/SetupLauncher.h"
#include "Platform/SystemError.h"
#include "Support/CriticalSection.h"
#include "Support/Tavrin_Thread.h"

namespace DownloadSystem {

class FileDownload;

class DownloadManager : public vesk::Tavrin_Thread, public IDownloadListener {
public:
    // Passes of download + verification before the download is given up.
    static constexpr int MaxPasses = 8;
    // Rounds of two list fetches that must agree before the list is refused.
    static constexpr int MaxListFetchRounds = FileListSource::MaxFetchRounds;
    // Error number of a file list naming a file outside the download folder.
    static constexpr int UnsafeFileNameError = FileListSource::UnsafeListError;

    // Computes the machine identifier.
    DownloadManager();
    // Shutdown, then the members go.
    ~DownloadManager() override;

    // --- Interface thread -------------------------------------------------------
    // Posts the manifest request for `releaseName` to the download service and keeps
    // the manifest. False with a non-empty `errorText` when the service could not be
    // reached, answered other than 200, or sent an "error_info" text (then that text).
    // Must not be called while the thread runs.
    bool RequestDownload(const std::u16string& releaseName, std::u16string& errorText);
    // The reply half of RequestDownload: logs the reply text, reads "error_info" and the
    // manifest keys (text that is not JSON counts as an object without members) and
    // applies the signing rule. False with `errorText` set to an "error_info" text.
    bool ApplyManifestReply(const std::string& text, std::u16string& errorText);

    // Stores the names and starts the thread. Release files go into `downloadFolder`;
    // `workFolder` holds the compressed log report.
    void StartDownload(const std::u16string& listName, const std::u16string& urlPrefix,
                       const std::u16string& downloadFolder, const std::u16string& workFolder);

    // The per-user folder of the log report, known before any download starts (the
    // report matters most when the manifest request failed). Interface thread only.
    void SetWorkFolder(const std::u16string& workFolder) { workFolder_ = workFolder; }

    // Flips the pause state; it applies to the file in transfer and to every later one.
    void TogglePauseAll();
    bool IsPaused() const { return paused_.load(); }

    // Writes "logfile.txt" next to the program and posts the gzip-compressed log
    // entries to the service. Blocks for the whole upload.
    void PostLogFile();

    // Stops the thread (waiting for it) and every worker still registered.
    void Shutdown();

    // Counters, readable from any thread at any time.
    std::uint64_t GetTotalBytes() const { return totalBytes_.load(); }
    std::uint64_t GetDownloadedBytes() const { return doneBytes_.load() + currentBytes_.load(); }
    std::uint64_t GetSessionBytes() const {
        return doneBytes_.load() + currentBytes_.load() - baselineBytes_.load();
    }
    std::uint64_t GetBytesReceived() const { return receivedBytes_.load(); }
    std::uint64_t GetStartTick() const { return startTick_.load(); }
    bool IsVerifying() const { return verifying_.load(); }
    std::u16string GetCurrentFileName() const;
    // Percent of the total done (files finished or found complete plus the current
    // file's bytes), in whole kilobytes; 0 while the total is below 1000 bytes.
    int GetProgressPercent() const;
    std::uint64_t GetVerifyPercent() const;
    bool IsCopying() const { return false; }
    std::uint32_t GetCopyPercent() const { return 0; }

    // The manifest as kept (after the signing rule).
    const std::u16string& GetComputerIdText() const { return computerId_; }
    const std::u16string& GetProductCode() const { return manifest_.productCode; }
    const std::u16string& GetDownloadSubdir() const { return manifest_.downloadSubdir; }
    const std::u16string& GetHostName() const { return manifest_.hostName; }
    const std::u16string& GetSasToken() const { return manifest_.sasToken; }
    const std::u16string& GetFileSuffix() const { return manifest_.fileSuffix; }

    // See ManifestRequest::SignSubdirectory.
    static std::u16string SignSubdirectory(const std::u16string& subdir,
                                           const std::u16string& token, std::uint32_t expiry) {
        return ManifestRequest::SignSubdirectory(subdir, token, expiry);
    }

    // --- Manager thread -----------------------------------------------------------
    void Run() override;

    // Fetches and parses the file list; false when the release is no longer offered
    // (404), the list names a file outside the download folder or the running
    // program, two fetches never agreed, a fetch did not bring the whole body (then
    // IsListUnavailable; a later pass tries again), the publisher's signature refused
    // it, or a stop was requested. The list may be empty.
    bool FetchFileList(std::vector<ListedFile>& files);
    // The last FetchFileList failed only because no fetch brought the whole list.
    bool IsListUnavailable() const { return listUnavailable_; }

    // 1 when the hosts file names a service domain (reported), 0 when not or empty,
    // -1 when it cannot be examined (reported).
    int CheckHosts() { return hostsCheck_.Check(); }

    // True when the file can be read and its CRC-32 equals `expected` (all 32 bits).
    // Missing or unopenable files give false without an entry; a failed read is
    // reported. Reads in blocks: memory use does not grow with the file.
    static bool CRCCheckFile(const std::u16string& path, std::int32_t expected) {
        return FileVerifier::CRCCheckFile(path, expected, std::nullopt);
    }
    // The same, and when `sha256` is given the file must also have that SHA-256 (both
    // from one read).
    static bool CRCCheckFile(const std::u16string& path, std::int32_t expected,
                             const std::optional<std::array<std::uint8_t, 32>>& sha256) {
        return FileVerifier::CRCCheckFile(path, expected, sha256);
    }

    // The verification of one listed file: true when it is there with the expected
    // CRC (its size then counts as verified). A wrong CRC is reported (-3) and the
    // file deleted so the next pass fetches it again.
    bool CheckFileFromCRCInfo(const ListedFile& file);

    // The verification pass over a freshly fetched list.
    bool VerifyDownload();

    // Announces the deletion to the watcher, then deletes the file.
    bool DeleteExpectedFile(const std::u16string& path);

    // The local path of a listed name: download folder + "/" + local name.
    std::u16string LocalPath(const std::u16string& name) const;

    // --- Worker threads -----------------------------------------------------------
    void OnDownloadFinished(FileDownload* download) override;
    void OnDownloadProgress(FileDownload* download) override;

private:
    void RunPasses();
    void ComputeTotalSize(const std::vector<ListedFile>& files);
    void DownloadFile(const ListedFile& file);
    void LaunchSetup();
    void SetCurrentFileName(const std::u16string& name);
    void FailDownload();
    // Ends the download after a file could not be written (full disk, read-only folder).
    void FailWriting();
    // Keeps a manifest that came back; otherwise `errorText` gets the failure's text.
    bool KeepManifest(ManifestOutcome outcome, std::u16string& errorText);

    // Names and manifest. Written before the thread starts, then only by it.
    std::u16string listName_;
    std::u16string currentFile_;
    std::u16string urlPrefix_;
    std::u16string downloadFolder_;
    std::u16string workFolder_;
    Manifest manifest_;
    const std::u16string computerId_;

    // Guards activeDownloads_, currentFileName_ and the byte counters' updates.
    mutable vesk::CriticalSection lock_;
    std::vector<FileDownload*> activeDownloads_;
    std::u16string currentFileName_;

    FileSystemWatcher watcher_;

    std::atomic<std::uint64_t> totalBytes_{0};
    std::atomic<std::uint64_t> doneBytes_{0};
    std::atomic<std::uint64_t> receivedBytes_{0};
    std::atomic<std::uint64_t> currentBytes_{0};
    std::atomic<std::uint64_t> verifiedBytes_{0};
    std::atomic<std::uint64_t> baselineBytes_{0};
    std::atomic<std::uint64_t> startTick_{~std::uint64_t{0}};
    std::atomic<bool> verifying_{false};
    std::atomic<bool> paused_{false};
    // A file worker could not write its file; no later pass would do better.
    bool writeFailed_ = false;
    Platform::FileFault writeFault_ = Platform::FileFault::DiskFull;
    bool listUnavailable_ = false;

    const ManifestRequest manifestRequest_;
    const LogReport logReport_;
    const HostsCheck hostsCheck_{};
    const FileListSource listSource_;
    const FileVerifier verifier_;
    SetupLauncher setupLauncher_;
};

}  // namespace DownloadSystem
