// The facade the interface drives the download engine through, from the interface
// thread only: manifest request, start, pause, progress, speed and remaining time,
// the log report, and the release's names and folders derived from the program's own
// file name (for a program Sorvan_9_5_X: release Sorvan_9_5, list Sorvan_9_5.txt,
// version 9.5).
#pragma once

#include <memory>
#include <string>

#include "DownloadSystem/DownloadManager.h"
#include "DownloadSystem/SpeedMeter.h"

namespace DownloadSystem {

class DownloadCore {
public:
    // Creates the manager (which computes the machine identifier).
    DownloadCore();
    // Releases the manager, which stops its thread.
    ~DownloadCore();
    DownloadCore(const DownloadCore&) = delete;
    DownloadCore& operator=(const DownloadCore&) = delete;

    // Asks the service for the manifest; blocks until it answered. False with the
    // connection-problem text in `errorText` when it failed for any reason.
    bool RequestDownload(std::u16string& errorText);
    // Starts the manager thread: files go next to the program.
    void StartDownload();

    // Pauses or resumes the transfer; returns the new pause state.
    bool TogglePause();
    bool IsPaused() const { return paused_; }

    // Writes "logfile.txt" and posts the compressed log to the service (blocks).
    void PostLogFile();

    const std::shared_ptr<DownloadManager>& GetManager() const { return manager_; }
    bool HasManager() const { return manager_ != nullptr; }
    // True before StartDownload and once the download has ended (either way).
    bool IsFinished() const;

    // Average bytes per second since the first call, over unpaused time, of the bytes
    // received in this process; 0 while paused.
    std::uint32_t GetSpeed();
    // Time the rest takes at GetSpeed (which it also advances); 0:0:0 without data.
    RemainingTime GetRemainingTime();

    // Names derived from the program's own path (recomputed on every call).
    static std::u16string GetExecutableFolder();
    // The file name without ".exe" (when present), cut before its last "_". A name
    // without "_" is the release name as it is.
    static std::u16string GetReleaseName();
    // Local application data + "/" + release name, with "/" separators.
    static std::u16string GetWorkFolder();
    static std::u16string GetFileListName();
    // "9.5" (withMinor) or "9" from the release name's "_" pieces; empty with fewer
    // than three pieces.
    static std::u16string GetVersionText(bool withMinor);

private:
    std::shared_ptr<DownloadManager> manager_;
    bool paused_ = false;
    SpeedMeter speed_;
};

}  // namespace DownloadSystem
