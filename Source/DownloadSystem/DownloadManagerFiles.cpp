// One listed file on the manager thread: keep a complete copy, or delete the damaged
// one and fetch it with a file worker, following the worker's bytes every 100 ms.
#include <exception>
#include <memory>
#include <string>

#include "DownloadSystem/DownloadManager.h"
#include "DownloadSystem/FileDownload.h"
#include "Platform/Files.h"
#include "Support/ErrorLog.h"

namespace DownloadSystem {

using vesk::CriticalSectionLock;

namespace {
constexpr std::uint32_t PollMilliseconds = 100;

bool WorkerEnded(FileDownload& worker) {
    const DownloadState state = worker.GetState();
    // A run that ends without a notification (its file could not be created) leaves
    // its state as it was; the ended thread says it is over all the same.
    return state == DownloadState::Finished || state == DownloadState::WriteFailed ||
           !worker.IsRunning();
}
}  // namespace

void DownloadManager::DownloadFile(const FileListEntry& entry) {
    currentBytes_ = 0;
    if (!entry.IsComplete()) {
        return;
    }
    const std::u16string& name = entry.fields[0];
    const std::int32_t expected = ParseExpectedCrc(entry.fields[2]);
    currentFile_ = MakeLocalName(name, fileSuffix_);
    const std::u16string path = downloadFolder_ + u"/" + currentFile_;

    verifying_ = true;
    SetCurrentFileName(currentFile_);
    const auto sha256 = ExpectedSha256(entry);
    if (CRCCheckFile(path, expected, sha256)) {
        std::uint64_t size = 0;
        Platform::Files::GetSize(path, size);
        doneBytes_ += size;
        SetCurrentFileName(u"");
        verifying_ = false;
        return;
    }
    SetCurrentFileName(u"");
    verifying_ = false;
    if (Platform::Files::Exists(path)) {
        DeleteExpectedFile(path);
    }

    std::unique_ptr<FileDownload> worker;
    bool registered = false;
    try {
        worker = std::make_unique<FileDownload>();
        worker->SetServer(hostName_);
        worker->SetListener(this);
        worker->SetRemotePath(JoinUrlPath({urlPrefix_, downloadSubdir_, name}));
        worker->SetRemoteFile(sasToken_);
        worker->SetExpectedCrc(static_cast<std::uint32_t>(expected));
        worker->SetExpectedSize(ListedSizeBound(entry.fields[1]));
        worker->SetExpectedSha256(sha256);
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

}  // namespace DownloadSystem
