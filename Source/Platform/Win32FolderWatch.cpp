// Windows backend of FolderWatch.h: ReadDirectoryChangesW with overlapped I/O on a folder
// handle, waited on in steps of 100 ms so the stop check is asked between steps. The next
// read is issued as soon as one completes (and the first one at Open), so changes that
// happen between two waits are kept by the system, not lost.
//
// The object keeps only a small integer: the folder handle wrapped as a C runtime
// descriptor. The overlapped state lives in a table keyed by that descriptor.
#include "Platform/FolderWatch.h"

#include <windows.h>

#include <io.h>

#include <map>
#include <memory>
#include <mutex>

#include "Platform/Win32Text.h"

namespace Platform {

namespace {

// Names cover additions, removals and renames; writes are only seen with the last two.
constexpr DWORD NameChanges = FILE_NOTIFY_CHANGE_FILE_NAME | FILE_NOTIFY_CHANGE_DIR_NAME;
constexpr DWORD AllChanges = NameChanges | FILE_NOTIFY_CHANGE_LAST_WRITE | FILE_NOTIFY_CHANGE_SIZE;
constexpr DWORD StepMilliseconds = 100;

struct Watch {
    HANDLE folder = INVALID_HANDLE_VALUE;
    HANDLE event = nullptr;
    DWORD filter = AllChanges;
    bool reportAdditions = true;
    OVERLAPPED overlapped{};
    alignas(DWORD) unsigned char buffer[64 * 1024];
    bool pending = false;
};

std::mutex tableMutex;
std::map<int, std::unique_ptr<Watch>>& Table() {
    static std::map<int, std::unique_ptr<Watch>> table;
    return table;
}

Watch* Find(int descriptor) {
    const std::lock_guard<std::mutex> lock(tableMutex);
    const auto found = Table().find(descriptor);
    return found == Table().end() ? nullptr : found->second.get();
}

bool IssueRead(Watch& watch) {
    ResetEvent(watch.event);
    watch.overlapped = {};
    watch.overlapped.hEvent = watch.event;
    watch.pending = ReadDirectoryChangesW(watch.folder, watch.buffer, sizeof watch.buffer, FALSE,
                                          watch.filter, nullptr, &watch.overlapped, nullptr);
    return watch.pending;
}

FolderChange ChangeOf(DWORD action) {
    switch (action) {
        case FILE_ACTION_ADDED:
            return FolderChange::Added;
        case FILE_ACTION_REMOVED:
            return FolderChange::Removed;
        case FILE_ACTION_RENAMED_OLD_NAME:
            return FolderChange::RenamedFrom;
        case FILE_ACTION_RENAMED_NEW_NAME:
            return FolderChange::RenamedTo;
        default:
            return FolderChange::Modified;
    }
}

void Parse(const Watch& watch, DWORD size, std::vector<FolderEvent>& events) {
    if (size == 0) {
        // The system's buffer overflowed: the changes are gone, only the fact is known.
        events.push_back({FolderChange::Overflow, {}});
        return;
    }
    DWORD offset = 0;
    for (;;) {
        if (offset + sizeof(FILE_NOTIFY_INFORMATION) > size) {
            break;
        }
        const auto* info = reinterpret_cast<const FILE_NOTIFY_INFORMATION*>(watch.buffer + offset);
        const std::size_t characters = info->FileNameLength / sizeof(wchar_t);
        const FolderChange change = ChangeOf(info->Action);
        // The name filter also brings additions, which a removals-only watch does not want.
        if (change != FolderChange::Added || watch.reportAdditions) {
            events.push_back(
                {change, Win32::FromWide(std::wstring_view(info->FileName, characters))});
        }
        if (info->NextEntryOffset == 0) {
            break;
        }
        offset += info->NextEntryOffset;
    }
}

void Release(Watch& watch) {
    if (watch.pending) {
        DWORD ignored = 0;
        CancelIoEx(watch.folder, &watch.overlapped);
        GetOverlappedResult(watch.folder, &watch.overlapped, &ignored, TRUE);
        watch.pending = false;
    }
    if (watch.event != nullptr) {
        CloseHandle(watch.event);
        watch.event = nullptr;
    }
}

}  // namespace

FolderWatch::~FolderWatch() {
    Close();
}

bool FolderWatch::Open(const std::u16string& folder, WatchedChanges watched) {
    Close();
    folderGone_ = false;
    std::wstring native;
    if (!Win32::ToNativePath(folder, native)) {
        return false;
    }
    const DWORD attributes = GetFileAttributesW(native.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        SetLastError(ERROR_DIRECTORY);
        return false;
    }
    auto watch = std::make_unique<Watch>();
    if (watched == WatchedChanges::RemovalsAndRenames) {
        watch->filter = NameChanges;
        watch->reportAdditions = false;
    }
    watch->folder = CreateFileW(
        native.c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OVERLAPPED, nullptr);
    if (watch->folder == INVALID_HANDLE_VALUE) {
        return false;
    }
    watch->event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (watch->event == nullptr || !IssueRead(*watch)) {
        const DWORD error = GetLastError();
        Release(*watch);
        CloseHandle(watch->folder);
        SetLastError(error);
        return false;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(watch->folder), 0);
    if (descriptor < 0) {
        Release(*watch);
        CloseHandle(watch->folder);
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
        return false;
    }
    const std::lock_guard<std::mutex> lock(tableMutex);
    Table()[descriptor] = std::move(watch);
    descriptor_ = descriptor;
    return true;
}

void FolderWatch::Close() {
    if (descriptor_ < 0) {
        return;
    }
    std::unique_ptr<Watch> watch;
    {
        const std::lock_guard<std::mutex> lock(tableMutex);
        const auto found = Table().find(descriptor_);
        if (found != Table().end()) {
            watch = std::move(found->second);
            Table().erase(found);
        }
    }
    if (watch) {
        Release(*watch);
    }
    _close(descriptor_);  // closes the folder handle
    descriptor_ = -1;
}

FolderWatch::WaitResult FolderWatch::Wait(std::vector<FolderEvent>& events,
                                          const std::function<bool()>& shouldStop) {
    events.clear();
    Watch* watch = descriptor_ >= 0 ? Find(descriptor_) : nullptr;
    if (watch == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WaitResult::Failed;
    }
    if (folderGone_ || !watch->pending) {
        folderGone_ = true;
        SetLastError(ERROR_FILE_NOT_FOUND);
        return WaitResult::Failed;
    }
    for (;;) {
        if (shouldStop && shouldStop()) {
            return WaitResult::Stopped;
        }
        const DWORD waited = WaitForSingleObject(watch->event, StepMilliseconds);
        if (waited == WAIT_TIMEOUT) {
            continue;
        }
        DWORD size = 0;
        const bool ok = waited == WAIT_OBJECT_0 &&
                        GetOverlappedResult(watch->folder, &watch->overlapped, &size, FALSE);
        watch->pending = false;
        if (!ok) {
            // The folder was removed or moved away, or its handle failed.
            folderGone_ = true;
            return WaitResult::Failed;
        }
        Parse(*watch, size, events);
        const DWORD error = IssueRead(*watch) ? ERROR_SUCCESS : GetLastError();
        if (error != ERROR_SUCCESS) {
            folderGone_ = true;
            SetLastError(error);
        }
        // A deleted folder reports its own removal as a change with no usable entries.
        if (events.empty()) {
            if (folderGone_) {
                return WaitResult::Failed;
            }
            continue;
        }
        return WaitResult::Changes;
    }
}

}  // namespace Platform
