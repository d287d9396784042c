// Change notifications for one folder: files and folders added, removed, modified
// and renamed inside it, with their names, for a watcher thread that must stay
// stoppable.
//
// Writing another backend: Windows uses ReadDirectoryChangesW with overlapped I/O
// and waits on its event in steps of at most 100 ms, asking the stop check between
// steps. Failures return false / Failed with an error number for LastSystemError()
// (SystemError.h).
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace Platform {

enum class FolderChange {
    Added,
    Removed,
    Modified,
    RenamedFrom,  // the old name of a rename, or a move out of the folder
    RenamedTo,    // the new name of a rename, or a move into the folder
    Overflow,     // the system dropped changes; the name is empty
};

// Which changes a watch reports. A watch that listens for fewer changes wakes less:
// RemovalsAndRenames stays quiet while files in the folder are being written.
enum class WatchedChanges {
    All,
    RemovalsAndRenames,  // Removed, RenamedFrom, RenamedTo (and Overflow)
};

struct FolderEvent {
    FolderChange change;
    std::u16string name;  // relative to the watched folder
};

// Watches the entries directly inside one folder (not its subfolders). One thread
// at a time uses an object; Close only after that thread has left Wait.
class FolderWatch {
public:
    enum class WaitResult {
        Changes,  // `events` holds at least one change
        Stopped,  // the stop check said stop; `events` is empty
        Failed,   // the folder cannot be watched any longer (removed, moved, error)
    };

    FolderWatch() = default;
    ~FolderWatch();
    FolderWatch(const FolderWatch&) = delete;
    FolderWatch& operator=(const FolderWatch&) = delete;

    // Starts watching `folder`. Returns false when it cannot be watched (ENOENT,
    // ENOTDIR, EMFILE / ENOSPC when the system's watch limits are reached).
    bool Open(const std::u16string& folder, WatchedChanges watched = WatchedChanges::All);
    bool IsOpen() const { return descriptor_ >= 0; }
    void Close();

    // Blocks until changes arrive or `shouldStop` returns true; the stop check is
    // asked at least every 100 ms, so a stop is honoured within about that time.
    // Changes come in the order they happened; the old name of a rename comes
    // before its new name.
    WaitResult Wait(std::vector<FolderEvent>& events, const std::function<bool()>& shouldStop);

private:
    int descriptor_ = -1;
    bool folderGone_ = false;  // the folder went away; later waits fail at once
};

}  // namespace Platform
