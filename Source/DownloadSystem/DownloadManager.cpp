// The manager thread's life: construction, start, stop, the pass loop, each listed
// file's fetch, counters and the file workers' notifications; and the specified
// methods the manager's parts carry out.
#include "DownloadSystem/DownloadManager.h"

#include <exception>
#include <memory>
#include <string>

#include "Configuration.h"
#include "DownloadSystem/ComputerId.h"
#include "DownloadSystem/FileDownload.h"
#include "DownloadSystem/PublisherKeys.h"
#include "DownloadSystem/ResumeRecord.h"
#include "DownloadSystem/TickCount.h"
#include "Platform/Files.h"
#include "Platform/Shell.h"
#include "Platform/SystemError.h"
#include "Support/ErrorLog.h"
#include "Support/StructuredException.h"

namespace DownloadSystem {

using vesk::CriticalSectionLock;

namespace {
constexpr std::uint32_t PollMilliseconds = 100;

std::u16string MachineIdentifier() {
    std::u16string id;
    ComputerId().GetComputerId(id);
    return id;
}

bool WorkerEnded(FileDownload& worker) {
    const DownloadState state = worker.GetState();
    // A run that ends without a notification (its file could not be created) leaves
    // its state as it was; the ended thread says it is over all the same.
    return state == DownloadState::Finished || state == DownloadState::WriteFailed ||
           !worker.IsRunning();
}
}  // namespace

DownloadManager::DownloadManager()
    : computerId_(MachineIdentifier()),
      manifestRequest_(computerId_),
      logReport_(computerId_),
      listSource_([this] { return !IsRunning(); }),
      verifier_({
          [this] { return !IsRunning(); },
          [this](const ListedFile& file) {
              currentFile_ = LocalPath(file.name);
              return currentFile_;
          },
          [this](const std::u16string& path) { return DeleteExpectedFile(path); },
      }) {}

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

bool DownloadManager::KeepManifest(ManifestOutcome outcome, std::u16string& errorText) {
    if (!outcome.Succeeded()) {
        errorText = std::move(outcome.failure.text);
        return false;
    }
    manifest_ = std::move(*outcome.manifest);
    return true;
}

bool DownloadManager::RequestDownload(const std::u16string& releaseName,
                                      std::u16string& errorText) {
    return KeepManifest(manifestRequest_.Send(releaseName, manifest_), errorText);
}

bool DownloadManager::ApplyManifestReply(const std::string& text, std::u16string& errorText) {
    return KeepManifest(ManifestRequest::ReadReply(text, manifest_), errorText);
}

void DownloadManager::PostLogFile() {
    logReport_.Post(workFolder_);
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
    return downloadFolder_ + u"/" + MakeLocalName(name, manifest_.fileSuffix);
}

bool DownloadManager::DeleteExpectedFile(const std::u16string& path) {
    watcher_.ExpectChange(path);
    return Platform::Files::Remove(path);
}

void DownloadManager::ComputeTotalSize(const std::vector<ListedFile>& files) {
    std::uint64_t total = 0;
    for (const ListedFile& file : files) {
        total += file.size;
    }
    totalBytes_ = total;
}

bool DownloadManager::FetchFileList(std::vector<ListedFile>& files) {
    files.clear();
    listUnavailable_ = false;
    // Releases numbered like 2_5 keep their list at the root of the content host.
    if (listName_.find(u"2_5") != std::u16string::npos) {
        manifest_.downloadSubdir = urlPrefix_;
        urlPrefix_.clear();
    }
    ListFetch fetch = listSource_.Fetch({
        .host = manifest_.hostName,
        .folder = manifest_.downloadSubdir,
        .listName = listName_,
        .sasToken = manifest_.sasToken,
        .fileSuffix = manifest_.fileSuffix,
        .downloadFolder = downloadFolder_,
        .workFolder = workFolder_,
    });
    listUnavailable_ = fetch.outcome == ListFetch::Outcome::Unavailable;
    if (fetch.outcome != ListFetch::Outcome::Taken) {
        return false;
    }
    files = std::move(fetch.files);
    return true;
}

bool DownloadManager::CheckFileFromCRCInfo(const ListedFile& file) {
    currentFile_ = LocalPath(file.name);
    return verifier_.CheckFile(file, currentFile_, verifiedBytes_);
}

bool DownloadManager::VerifyDownload() {
    verifiedBytes_ = 0;
    std::vector<ListedFile> files;
    if (!FetchFileList(files) || files.empty()) {
        return false;
    }
    ComputeTotalSize(files);
    baselineBytes_ = 0;
    verifying_ = true;
    const bool verified = verifier_.VerifyAll(files, verifiedBytes_);
    verifying_ = false;
    return verified && IsRunning();
}

void DownloadManager::LaunchSetup() {
    setupLauncher_.Launch(downloadFolder_, [this] { watcher_.Stop(500); });
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

void DownloadManager::DownloadFile(const ListedFile& file) {
    currentBytes_ = 0;
    if (!file.complete) {
        return;
    }
    const std::u16string& name = file.name;
    const std::int32_t expected = file.crc;
    currentFile_ = MakeLocalName(name, manifest_.fileSuffix);
    const std::u16string path = downloadFolder_ + u"/" + currentFile_;

    const std::u16string remotePath = JoinUrlPath({urlPrefix_, manifest_.downloadSubdir, name});
    // A file an earlier run left part-way is not complete; its bytes stay for the worker
    // to go on from.
    const bool partial = file.sizeBound && ResumeRecord::Load(path, remotePath, *file.sizeBound,
                                                              static_cast<std::uint32_t>(expected));

    verifying_ = true;
    SetCurrentFileName(currentFile_);
    if (!partial && FileVerifier::CRCCheckFile(path, expected, file.sha256)) {
        std::uint64_t size = 0;
        Platform::Files::GetSize(path, size);
        doneBytes_ += size;
        SetCurrentFileName(u"");
        verifying_ = false;
        return;
    }
    SetCurrentFileName(u"");
    verifying_ = false;
    if (!partial && Platform::Files::Exists(path)) {
        DeleteExpectedFile(path);
    }

    std::unique_ptr<FileDownload> worker;
    bool registered = false;
    try {
        worker = std::make_unique<FileDownload>();
        worker->SetServer(manifest_.hostName);
        worker->SetListener(this);
        worker->SetRemotePath(remotePath);
        worker->SetRemoteFile(manifest_.sasToken);
        worker->SetExpectedCrc(static_cast<std::uint32_t>(expected));
        worker->SetExpectedSize(file.sizeBound);
        worker->SetExpectedSha256(file.sha256);
        worker->SetTargetPath(path);
        worker->SetRemovalNotice(
            [this](const std::u16string& gone) { watcher_.ExpectChange(gone); });
        {
            // Registered and paused under the lock, so a pause toggled meanwhile
            // reaches this worker exactly once.
            CriticalSectionLock guard(lock_);
            if (paused_) {
                worker->TogglePause();
            }
            activeDownloads_.push_back(worker.get());
            registered = true;
        }
        worker->StartToFile(path);

        std::uint64_t previous = 0;
        bool ended = false;
        while (IsRunning() && !ended) {
            {
                CriticalSectionLock guard(lock_);
                ended = WorkerEnded(*worker);
                const std::uint64_t bytes = worker->GetBytesDone();
                // Signed: a worker that starts its file again lowers the count.
                const std::int64_t delta =
                    static_cast<std::int64_t>(bytes) - static_cast<std::int64_t>(previous);
                receivedBytes_ += static_cast<std::uint64_t>(delta);
                previous = bytes;
            }
            if (!ended) {
                // Returns as soon as the worker's thread ends, so the next file starts
                // at once instead of at the next poll.
                worker->Wait(PollMilliseconds);
            }
        }
        doneBytes_ += worker->GetBytesDone();
        writeFailed_ = worker->GetState() == DownloadState::WriteFailed;
        writeFault_ = worker->GetWriteFault();
    } catch (const std::exception& error) {
        VESK_LOG_FAILURE(
            std::string("DownloadManager: Obviously a major malfunction. Stopping download. "
                        "Message: ") +
                error.what(),
            vesk::ErrorNumber::DownloadMalfunction);
    }
    if (registered) {
        CriticalSectionLock guard(lock_);
        activeDownloads_.clear();
        currentBytes_ = 0;
    }
    worker.reset();  // stops its thread when it still runs
}

void DownloadManager::Run() {
    startTick_ = TickCount();
    vesk::InstallStructuredExceptionTranslator();
    try {
        vesk::ClearErrors();
        hostsCheck_.Check();
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
        std::vector<ListedFile> files;
        if (!FetchFileList(files)) {
            // A list that could not be fetched costs a pass, as a failed file does.
            if (IsListUnavailable() && IsRunning()) {
                continue;
            }
            return;
        }
        ComputeTotalSize(files);
        for (const ListedFile& file : files) {
            if (!IsRunning() || writeFailed_) {
                break;
            }
            DownloadFile(file);
        }
        if (!IsRunning()) {
            return;
        }
        if (writeFailed_) {
            FailWriting();
            return;
        }
        for (const ListedFile& file : files) {
            if (!file.name.empty()) {
                setupLauncher_.NoteListedFile(LocalPath(file.name));
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
