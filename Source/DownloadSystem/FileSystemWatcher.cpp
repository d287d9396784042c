// The folder watcher thread: folder change events, announced deletions, log entries.
#include "DownloadSystem/FileSystemWatcher.h"

#include <algorithm>

#include "Platform/FolderWatch.h"
#include "Platform/SystemError.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {

using vesk::CriticalSectionLock;
using vesk::StringUtils;

FileSystemWatcher::~FileSystemWatcher() {
    Stop(500);
}

bool FileSystemWatcher::StartWatching(const std::u16string& folder) {
    if (IsRunning()) {
        return false;
    }
    {
        CriticalSectionLock guard(lock_);
        folder_ = folder;
        watching_ = false;
    }
    return Start();
}

void FileSystemWatcher::ExpectChange(const std::u16string& path) {
    std::u16string name = StringUtils::GetFileName(path);
    CriticalSectionLock guard(lock_);
    expected_.push_back(std::move(name));
}

bool FileSystemWatcher::ConsumeExpectedChange(const std::u16string& name) {
    CriticalSectionLock guard(lock_);
    const auto found = std::find(expected_.begin(), expected_.end(), name);
    if (found == expected_.end()) {
        return false;
    }
    expected_.erase(found);
    return true;
}

bool FileSystemWatcher::IsWatching() const {
    CriticalSectionLock guard(lock_);
    return watching_;
}

void FileSystemWatcher::Run() {
    VESK_LOG_INFO("FileSystemWatcher started");
    std::u16string folder;
    {
        CriticalSectionLock guard(lock_);
        folder = folder_;
    }
    Platform::FolderWatch watch;
    // Only removals and renames are acted on; writes to the files being downloaded
    // would otherwise wake this thread for every piece.
    if (!watch.Open(folder, Platform::WatchedChanges::RemovalsAndRenames)) {
        VESK_LOG_FAILURE(u"FileSystemWatcher unable to watch " + folder,
                         Platform::LastSystemError());
        return;
    }
    {
        CriticalSectionLock guard(lock_);
        watching_ = true;
    }
    std::vector<Platform::FolderEvent> events;
    const auto shouldStop = [this] { return !IsRunning(); };
    while (IsRunning()) {
        events.clear();
        const auto result = watch.Wait(events, shouldStop);
        if (result != Platform::FolderWatch::WaitResult::Changes) {
            break;
        }
        for (const Platform::FolderEvent& event : events) {
            if (!IsRunning()) {
                break;
            }
            if (event.change == Platform::FolderChange::Removed &&
                !ConsumeExpectedChange(event.name)) {
                VESK_LOG_FAILURE(u"File: " + event.name +
                                     u" was deleted but it was not by the download manager!",
                                 vesk::ErrorNumber::FileDeletedByOthers);
            } else if (event.change == Platform::FolderChange::RenamedFrom &&
                       !ConsumeExpectedChange(event.name)) {
                VESK_LOG_FAILURE(u"File: " + event.name +
                                     u" was renamed but it was not by the download manager!",
                                 vesk::ErrorNumber::FileRenamedByOthers);
            }
        }
    }
    {
        CriticalSectionLock guard(lock_);
        watching_ = false;
    }
    VESK_LOG_INFO("FileSystemWatcher ended");
}

}  // namespace DownloadSystem
