// Temporary-file-then-move writes with fsync, on POSIX file calls.
#include "FileWriting.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>

namespace Tools {
namespace {

std::atomic<unsigned> temporaryCounter{0};

std::string ErrnoText(const std::string& what, const std::filesystem::path& path) {
    return what + " " + path.string() + ": " + std::strerror(errno);
}

// Writes the bytes to a fresh temporary file in `folder`; returns its path or
// an empty path with `error` set.
std::filesystem::path WriteTemporary(const std::filesystem::path& folder, std::string_view bytes,
                                     std::string& error) {
    std::filesystem::path temporary = folder / (".tmp-" + std::to_string(getpid()) + "-" +
                                                std::to_string(temporaryCounter.fetch_add(1)));
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = ErrnoText("cannot create", temporary);
        return {};
    }
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = ErrnoText("cannot write", temporary);
            close(fd);
            unlink(temporary.c_str());
            return {};
        }
        written += static_cast<size_t>(n);
    }
    if (fsync(fd) != 0 || close(fd) != 0) {
        error = ErrnoText("cannot flush", temporary);
        unlink(temporary.c_str());
        return {};
    }
    return temporary;
}

}  // namespace

bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string& error) {
    std::filesystem::path folder = path.parent_path().empty() ? "." : path.parent_path();
    std::filesystem::path temporary = WriteTemporary(folder, bytes, error);
    if (temporary.empty()) {
        return false;
    }
    if (rename(temporary.c_str(), path.c_str()) != 0) {
        error = ErrnoText("cannot move into place", path);
        unlink(temporary.c_str());
        return false;
    }
    return true;
}

namespace {

bool WriteAll(int fd, std::string_view bytes) {
    size_t written = 0;
    while (written < bytes.size()) {
        ssize_t n = write(fd, bytes.data() + written, bytes.size() - written);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return false;
        }
        written += static_cast<size_t>(n);
    }
    return true;
}

// An unnamed file in `folder` that only gets a name once it is complete, so
// that nothing is left behind when the process dies mid-write. -1 where the
// file system cannot make unnamed files; -2 with `error` set on a write error.
int WriteUnnamed(const std::filesystem::path& folder, std::string_view bytes, std::string& error) {
    int fd = open(folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (fd < 0) {
        return errno == EOPNOTSUPP || errno == EISDIR || errno == EINVAL ? -1 : -2;
    }
    if (!WriteAll(fd, bytes) || fsync(fd) != 0) {
        error = ErrnoText("cannot write a new file in", folder);
        close(fd);
        return -2;
    }
    return fd;
}

}  // namespace

bool WriteNewFile(const std::filesystem::path& folder, const std::string& stem,
                  const std::string& extension, std::string_view bytes,
                  std::filesystem::path& written, std::string& error) {
    int unnamed = WriteUnnamed(folder, bytes, error);
    if (unnamed == -2) {
        if (error.empty()) {
            error = ErrnoText("cannot create a file in", folder);
        }
        return false;
    }
    if (unnamed >= 0) {
        std::string self = "/proc/self/fd/" + std::to_string(unnamed);
        for (int n = 0; n < 1000; ++n) {
            std::string name = stem + (n == 0 ? "" : "-" + std::to_string(n)) + extension;
            std::filesystem::path target = folder / name;
            if (linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                close(unnamed);
                written = target;
                return true;
            }
            if (errno != EEXIST) {
                error = ErrnoText("cannot store", target);
                close(unnamed);
                return false;
            }
        }
        close(unnamed);
        error = "no free name for " + stem + extension + " in " + folder.string();
        return false;
    }
    std::filesystem::path temporary = WriteTemporary(folder, bytes, error);
    if (temporary.empty()) {
        return false;
    }
    // link() fails instead of replacing an existing name, so two reports that
    // arrive in the same millisecond both survive.
    for (int n = 0; n < 1000; ++n) {
        std::string name = stem + (n == 0 ? "" : "-" + std::to_string(n)) + extension;
        std::filesystem::path target = folder / name;
        if (link(temporary.c_str(), target.c_str()) == 0) {
            unlink(temporary.c_str());
            written = target;
            return true;
        }
        if (errno != EEXIST) {
            error = ErrnoText("cannot store", target);
            unlink(temporary.c_str());
            return false;
        }
    }
    error = "no free name for " + stem + extension + " in " + folder.string();
    unlink(temporary.c_str());
    return false;
}

}  // namespace Tools
