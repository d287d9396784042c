// Linux backend of FolderWatch.h: one inotify watch, polled in 100 ms steps.
#include <poll.h>
#include <sys/inotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "Platform/FolderWatch.h"
#include "Platform/PosixText.h"

namespace Platform {

namespace {

constexpr int kPollMilliseconds = 100;
constexpr std::uint32_t kFolderItself = IN_DELETE_SELF | IN_MOVE_SELF | IN_ONLYDIR;
constexpr std::uint32_t kRemovalsAndRenames = IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO;
constexpr std::uint32_t kAllChanges = kRemovalsAndRenames | IN_CREATE | IN_MODIFY;

}  // namespace

FolderWatch::~FolderWatch() {
    Close();
}

bool FolderWatch::Open(const std::u16string& folder, WatchedChanges watched) {
    Close();
    std::string native;
    if (!Posix::ToNativePath(folder, native)) {
        return false;
    }
    const int descriptor = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    const std::uint32_t mask =
        kFolderItself | (watched == WatchedChanges::All ? kAllChanges : kRemovalsAndRenames);
    if (::inotify_add_watch(descriptor, native.c_str(), mask) < 0) {
        const int error = errno;
        ::close(descriptor);
        errno = error;
        return false;
    }
    descriptor_ = descriptor;
    folderGone_ = false;
    return true;
}

void FolderWatch::Close() {
    if (descriptor_ >= 0) {
        ::close(descriptor_);
        descriptor_ = -1;
    }
}

FolderWatch::WaitResult FolderWatch::Wait(std::vector<FolderEvent>& events,
                                          const std::function<bool()>& shouldStop) {
    events.clear();
    if (descriptor_ < 0) {
        errno = EBADF;
        return WaitResult::Failed;
    }
    if (folderGone_) {
        errno = ENOENT;
        return WaitResult::Failed;
    }
    // Room for many records at once; inotify never splits a record across reads.
    alignas(inotify_event) char buffer[16384];
    for (;;) {
        if (shouldStop && shouldStop()) {
            return WaitResult::Stopped;
        }
        pollfd ready{descriptor_, POLLIN, 0};
        const int polled = ::poll(&ready, 1, kPollMilliseconds);
        if (polled < 0 && errno != EINTR) {
            return WaitResult::Failed;
        }
        if (polled <= 0) {
            continue;
        }
        const ssize_t length = ::read(descriptor_, buffer, sizeof buffer);
        if (length < 0) {
            if (errno == EAGAIN || errno == EINTR) {
                continue;
            }
            return WaitResult::Failed;
        }
        for (ssize_t offset = 0; offset + static_cast<ssize_t>(sizeof(inotify_event)) <= length;) {
            inotify_event record;
            std::memcpy(&record, buffer + offset, sizeof record);
            const char* name = buffer + offset + sizeof(inotify_event);
            const std::size_t nameLength = record.len != 0 ? ::strnlen(name, record.len) : 0;
            offset += static_cast<ssize_t>(sizeof(inotify_event) + record.len);

            if (record.mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) {
                folderGone_ = true;
                continue;
            }
            FolderEvent event{FolderChange::Modified,
                              Posix::FromNative(std::string_view(name, nameLength))};
            if (record.mask & IN_Q_OVERFLOW) {
                event = {FolderChange::Overflow, {}};
            } else if (record.mask & IN_CREATE) {
                event.change = FolderChange::Added;
            } else if (record.mask & IN_DELETE) {
                event.change = FolderChange::Removed;
            } else if (record.mask & IN_MOVED_FROM) {
                event.change = FolderChange::RenamedFrom;
            } else if (record.mask & IN_MOVED_TO) {
                event.change = FolderChange::RenamedTo;
            } else if (!(record.mask & IN_MODIFY)) {
                continue;
            }
            events.push_back(std::move(event));
        }
        if (!events.empty()) {
            return WaitResult::Changes;
        }
        if (folderGone_) {
            errno = ENOENT;
            return WaitResult::Failed;
        }
    }
}

}  // namespace Platform
