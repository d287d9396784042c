// Watches the download folder for files that disappear (deleted or renamed away) and
// logs each one the download manager did not announce beforehand, so deletions by
// others (a virus scanner, the user) show in the log report.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Support/CriticalSection.h"
#include "Support/Tavrin_Thread.h"

namespace DownloadSystem {

class FileSystemWatcher : public vesk::Tavrin_Thread {
public:
    FileSystemWatcher() = default;
    // Stops the thread (500 ms, then waits on; a stop is honoured within ~100 ms).
    ~FileSystemWatcher() override;

    // Remembers the folder and starts the thread. False when the thread is running
    // already or cannot start.
    bool StartWatching(const std::u16string& folder);

    // Announces that the file at `path` is about to go: its file name (after the last
    // "/" or "\\") is expected once. Announce a file once per deletion.
    void ExpectChange(const std::u16string& path);

    // Removes the first announcement equal to `name` (exact, case-sensitive); false
    // when there is none.
    bool ConsumeExpectedChange(const std::u16string& name);

    // Logs "FileSystemWatcher started", watches until stopped or the folder cannot be
    // watched any longer, then logs "FileSystemWatcher ended". Foreign removals are
    // logged with -32761, foreign renames away with -32760.
    void Run() override;

    // True once Run has the folder under watch (changes from then on are seen).
    bool IsWatching() const;

private:
    mutable vesk::CriticalSection lock_;
    std::u16string folder_;
    std::vector<std::u16string> expected_;
    bool watching_ = false;
};

}  // namespace DownloadSystem
