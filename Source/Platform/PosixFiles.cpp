// Linux backend of Files.h: POSIX descriptors (close-on-exec), stat, unlink, mkdir.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <utility>

#include "Platform/Files.h"
#include "Platform/FilesBackend.h"
#include "Platform/PosixText.h"

namespace Platform {

// A close on a failure path must not replace the errno that caused it.
void CloseQuietly(int descriptor) {
    const int saved = errno;
    ::close(descriptor);
    errno = saved;
}

namespace {

int OpenNative(const std::u16string& path, int flags, mode_t mode) {
    std::string native;
    if (!Posix::ToNativePath(path, native)) {
        return -1;
    }
    int descriptor;
    do {
        descriptor = ::open(native.c_str(), flags | O_CLOEXEC, mode);
    } while (descriptor < 0 && errno == EINTR);
    return descriptor;
}

bool StatNative(const std::u16string& path, struct stat& info) {
    std::string native;
    if (!Posix::ToNativePath(path, native)) {
        return false;
    }
    return ::stat(native.c_str(), &info) == 0;
}

}  // namespace

File File::OpenForReading(const std::u16string& path) {
    const int descriptor = OpenNative(path, O_RDONLY, 0);
    if (descriptor < 0) {
        return File();
    }
    // open() happily opens a folder for reading; a folder is not a file here.
    struct stat info {};
    if (::fstat(descriptor, &info) != 0 || S_ISDIR(info.st_mode)) {
        if (S_ISDIR(info.st_mode)) {
            errno = EISDIR;
        }
        CloseQuietly(descriptor);
        return File();
    }
    return File(descriptor);
}

File File::CreateForWriting(const std::u16string& path) {
    return File(OpenNative(path, O_WRONLY | O_CREAT | O_TRUNC, 0666));
}

File File::OpenForAppending(const std::u16string& path) {
    return File(OpenNative(path, O_WRONLY | O_APPEND, 0));
}

bool File::Read(void* buffer, std::size_t size, std::size_t& bytesRead) {
    bytesRead = 0;
    if (descriptor_ < 0) {
        errno = EBADF;
        return false;
    }
    auto* bytes = static_cast<char*>(buffer);
    while (bytesRead < size) {
        const ssize_t got = ::read(descriptor_, bytes + bytesRead, size - bytesRead);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (got == 0) {
            break;
        }
        bytesRead += static_cast<std::size_t>(got);
    }
    return true;
}

bool File::Write(const void* data, std::size_t size) {
    if (descriptor_ < 0) {
        errno = EBADF;
        return false;
    }
    const auto* bytes = static_cast<const char*>(data);
    std::size_t written = 0;
    while (written < size) {
        const ssize_t put = ::write(descriptor_, bytes + written, size - written);
        if (put < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (put == 0) {
            errno = ENOSPC;
            return false;
        }
        written += static_cast<std::size_t>(put);
    }
    return true;
}

bool File::Size(std::uint64_t& size) const {
    size = 0;
    struct stat info {};
    if (descriptor_ < 0) {
        errno = EBADF;
        return false;
    }
    if (::fstat(descriptor_, &info) != 0) {
        return false;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool File::Truncate(std::uint64_t size) {
    std::uint64_t current = 0;
    if (!Size(current)) {
        return false;
    }
    if (size > current || size > static_cast<std::uint64_t>(std::numeric_limits<off_t>::max())) {
        errno = EINVAL;
        return false;
    }
    while (::ftruncate(descriptor_, static_cast<off_t>(size)) != 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return true;
}

bool File::Close() {
    if (descriptor_ < 0) {
        errno = EBADF;
        return false;
    }
    // The descriptor is gone after close() even when it reports an error (Linux),
    // so it is never closed twice.
    return ::close(std::exchange(descriptor_, -1)) == 0;
}

namespace Files {

bool GetAttributes(const std::u16string& path, Attributes& attributes) {
    attributes = {};
    struct stat info {};
    if (!StatNative(path, info)) {
        return false;
    }
    attributes.directory = S_ISDIR(info.st_mode);
    std::string native;
    Posix::ToNativePath(path, native);
    const int saved = errno;
    attributes.readOnly = ::access(native.c_str(), W_OK) != 0;
    errno = saved;
    return true;
}

bool Exists(const std::u16string& path) {
    struct stat info {};
    return StatNative(path, info);
}

bool IsDirectory(const std::u16string& path) {
    struct stat info {};
    return StatNative(path, info) && S_ISDIR(info.st_mode);
}

bool GetSize(const std::u16string& path, std::uint64_t& size) {
    size = 0;
    struct stat info {};
    if (!StatNative(path, info)) {
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    size = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool Remove(const std::u16string& path) {
    std::string native;
    if (!Posix::ToNativePath(path, native)) {
        return false;
    }
    return ::unlink(native.c_str()) == 0;
}

bool MakeDirectory(const std::u16string& path) {
    std::string native;
    if (!Posix::ToNativePath(path, native)) {
        return false;
    }
    return ::mkdir(native.c_str(), 0777) == 0;
}

bool MakeDirectoryPath(const std::u16string& path) {
    std::string native;
    if (!Posix::ToNativePath(path, native)) {
        return false;
    }
    if (native.empty()) {
        errno = ENOENT;
        return false;
    }
    // Walk the path from the top, creating each missing level; a level that another
    // process creates at the same moment counts as created.
    for (std::size_t end = 1; end <= native.size(); ++end) {
        if (end != native.size() && native[end] != '/') {
            continue;
        }
        const std::string level = native.substr(0, end);
        if (::mkdir(level.c_str(), 0777) == 0 || errno == EEXIST) {
            struct stat info {};
            if (::stat(level.c_str(), &info) != 0) {
                return false;
            }
            if (!S_ISDIR(info.st_mode)) {
                errno = ENOTDIR;
                return false;
            }
            continue;
        }
        return false;
    }
    return true;
}

bool MakeExecutable(const std::u16string& path) {
    std::string native;
    if (!Posix::ToNativePath(path, native)) {
        return false;
    }
    struct stat info {};
    if (::stat(native.c_str(), &info) != 0) {
        return false;
    }
    if (S_ISDIR(info.st_mode)) {
        errno = EISDIR;
        return false;
    }
    // Execute permission follows read permission: whoever may read it may run it.
    mode_t mode = info.st_mode & 07777;
    if (mode & S_IRUSR)
        mode |= S_IXUSR;
    if (mode & S_IRGRP)
        mode |= S_IXGRP;
    if (mode & S_IROTH)
        mode |= S_IXOTH;
    return ::chmod(native.c_str(), mode) == 0;
}

bool IsNotFoundError(int errorNumber) {
    return errorNumber == ENOENT || errorNumber == ENOTDIR;
}

}  // namespace Files

}  // namespace Platform
