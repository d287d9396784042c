// The manager thread's life: construction, start, stop, the pass loop, counters and
// the file workers' notifications.
#include "DownloadSystem/DownloadManager.h"

#include <exception>
#include <string>

#include "Configuration.h"
#include "DownloadSystem/ComputerId.h"
#include "DownloadSystem/FileDownload.h"
#include "DownloadSystem/PublisherKeys.h"
#include "DownloadSystem/TickCount.h"
#include "Platform/Files.h"
#include "Platform/Shell.h"
#include "Platform/SystemError.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"
#include "Support/StructuredException.h"

namespace DownloadSystem {

using vesk::CriticalSectionLock;

DownloadManager::DownloadManager() {
    ComputerId().GetComputerId(computerId_);
}

DownloadManager::~DownloadManager() {
    Shutdown();
}

void DownloadManager::Shutdown() {
    Stop(Infinite);
    std::vector<FileDownload*> workers;
    {
        CriticalSectionLock guard(lock_);
        currentBytes_ = 0;
        workers.swap(activeDownloads_);
    }
    // Workers are stopped outside the lock: a worker inside a notification waits for
    // it. Their owner (DownloadFile) has returned, so only their threads remain.
    for (FileDownload* worker : workers) {
        worker->Stop(Infinite);
    }
    watcher_.Stop(500);
}

void DownloadManager::StartDownload(const std::u16string& listName, const std::u16string& urlPrefix,
                                    const std::u16string& downloadFolder,
                                    const std::u16string& workFolder) {
    if (IsRunning()) {
        VESK_LOG_FAILURE("DownloadManager::StartDownload the download is already running", 0);
        return;
    }
    listName_ = listName;
    urlPrefix_ = urlPrefix;
    downloadFolder_ = downloadFolder;
    workFolder_ = workFolder;
    Start();
}

void DownloadManager::TogglePauseAll() {
    CriticalSectionLock guard(lock_);
    paused_ = !paused_.load();
    for (FileDownload* worker : activeDownloads_) {
        worker->TogglePause();
    }
}

std::u16string DownloadManager::GetCurrentFileName() const {
    CriticalSectionLock guard(lock_);
    return currentFileName_;
}

void DownloadManager::SetCurrentFileName(const std::u16string& name) {
    CriticalSectionLock guard(lock_);
    currentFileName_ = name;
}

namespace {
// (a / 1000) / (total / 1000) * 100 in whole kilobytes, truncated; 0 below 1000 bytes.
std::int64_t PercentOfTotal(std::uint64_t kilobytes, std::uint64_t total) {
    if (total < 1000) {
        return 0;
    }
    return static_cast<std::int64_t>(static_cast<double>(kilobytes) /
                                     static_cast<double>(total / 1000) * 100.0);
}
}  // namespace

int DownloadManager::GetProgressPercent() const {
    const std::uint64_t kilobytes = doneBytes_.load() / 1000 + currentBytes_.load() / 1000;
    return static_cast<int>(PercentOfTotal(kilobytes, totalBytes_.load()));
}

std::uint64_t DownloadManager::GetVerifyPercent() const {
    return static_cast<std::uint64_t>(PercentOfTotal(verifiedBytes_.load() / 1000, totalBytes_));
}

std::u16string DownloadManager::LocalPath(const std::u16string& name) const {
    return downloadFolder_ + u"/" + MakeLocalName(name, fileSuffix_);
}

bool DownloadManager::DeleteExpectedFile(const std::u16string& path) {
    watcher_.ExpectChange(path);
    return Platform::Files::Remove(path);
}

void DownloadManager::ComputeTotalSize(const FileList& entries) {
    std::uint64_t total = 0;
    for (const FileListEntry& entry : entries) {
        if (entry.fields.size() >= 2) {
            total += ParseListSize(entry.fields[1]);
        }
    }
    totalBytes_ = total;
}

void DownloadManager::OnDownloadProgress(FileDownload* /*download*/) {
    if (!IsRunning()) {
        return;
    }
    CriticalSectionLock guard(lock_);
    std::uint64_t sum = 0;
    for (FileDownload* worker : activeDownloads_) {
        if (worker->GetState() != DownloadState::Finished) {
            sum += worker->GetBytesDone();
        }
    }
    currentBytes_ = sum;
}

void DownloadManager::OnDownloadFinished(FileDownload* /*download*/) {
    if (!IsRunning()) {
        return;
    }
    CriticalSectionLock guard(lock_);
    for (FileDownload* worker : activeDownloads_) {
        if (worker->GetState() == DownloadState::Idle && !worker->IsRunning()) {
            worker->Restart(u"");
            break;
        }
    }
}

void DownloadManager::Run() {
    startTick_ = TickCount();
    vesk::InstallStructuredExceptionTranslator();
    try {
        vesk::ClearErrors();
        CheckHosts();
        RunPasses();
    } catch (const std::exception& error) {
        VESK_LOG_FAILURE(
            std::string("DownloadManager: Obviously a major malfunction. Message: ") + error.what(),
            0);
    }
    watcher_.Stop(500);
    verifying_ = false;
}

void DownloadManager::RunPasses() {
    writeFailed_ = false;
    if (PublisherKeys::Keys().empty()) {
        VESK_LOG_INFO(
            "DownloadManager: no publisher key is built in; file lists are taken without "
            "checking a signature");
    }
    // Deletions by others in the download folder reach the log from now on.
    if (Platform::Files::IsDirectory(downloadFolder_)) {
        watcher_.StartWatching(downloadFolder_);
    }
    for (int pass = 0; pass < MaxPasses; ++pass) {
        doneBytes_ = 0;
        FileList entries;
        if (!FetchFileList(entries)) {
            // A list that could not be fetched costs a pass, as a failed file does.
            if (IsListUnavailable() && IsRunning()) {
                continue;
            }
            return;
        }
        ComputeTotalSize(entries);
        for (const FileListEntry& entry : entries) {
            if (!IsRunning() || writeFailed_) {
                break;
            }
            DownloadFile(entry);
        }
        if (!IsRunning()) {
            return;
        }
        if (writeFailed_) {
            FailWriting();
            return;
        }
        for (const FileListEntry& entry : entries) {
            if (entry.HasFields()) {
                const std::u16string candidate = LocalPath(entry.Name());
                if (candidate.ends_with(u".exe")) {
                    setupPath_ = candidate;
                }
            }
        }
        const bool verified = VerifyDownload();
        // A stop during the verification ends the download; setup is not started.
        if (!IsRunning()) {
            return;
        }
        if (verified) {
            LaunchSetup();
            return;
        }
    }
    FailDownload();
}

void DownloadManager::FailWriting() {
    // The worker reported the failed write itself; the user learns what to do about it.
    switch (writeFault_) {
        case Platform::FileFault::InUse:
            vesk::SetUserMessage(
                "Downloading setup failed: a file is in use by another program. Please close the "
                "programs that may be using the program's folder, then start again.");
            break;
        case Platform::FileFault::CannotWrite:
            vesk::SetUserMessage(
                "Downloading setup failed: a file cannot be written. Please make sure the "
                "program's folder can be written to, then start again.");
            break;
        case Platform::FileFault::DiskFull:
            vesk::SetUserMessage(
                "Downloading setup failed: a file could not be written. Please make sure the disk "
                "has free space and the program's folder can be written to, then start again.");
            break;
    }
}

void DownloadManager::FailDownload() {
    VESK_REPORT_ERROR(
        "Maximum download attempts exceeded. If there are no network or file errors, it could be "
        "that the files are removed from disk after writing",
        vesk::ErrorNumber::DownloadAttemptsExceeded);
    vesk::SetUserMessage(
        "Downloading setup failed. You are now directed to our Support Center for help.");
    if (!Platform::Shell::OpenWebPage(std::u16string(Configuration::SupportArticlePage))) {
        VESK_LOG_FAILURE("DownloadManager::Run unable to open the support page",
                         Platform::LastSystemError());
    }
}

}  // namespace DownloadSystem
