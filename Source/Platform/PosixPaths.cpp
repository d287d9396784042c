// Linux backend of Paths.h: /proc/self/exe, the XDG data folder, /etc/hosts.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "Platform/PathsBackend.h"
#include "Platform/PosixText.h"

namespace Platform::Paths {

namespace {

std::string WithoutTrailingSeparator(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

std::string HomeFolder() {
    if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
        return home;
    }
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* result = nullptr;
    const int error = ::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result);
    if (result == nullptr || result->pw_dir == nullptr || result->pw_dir[0] != '/') {
        errno = error != 0 ? error : ENOENT;
        return {};
    }
    return result->pw_dir;
}

}  // namespace

std::u16string SystemExecutablePath() {
    std::vector<char> buffer(4096);
    for (;;) {
        const ssize_t length = ::readlink("/proc/self/exe", buffer.data(), buffer.size());
        if (length < 0) {
            return {};
        }
        if (static_cast<std::size_t>(length) < buffer.size()) {
            return Posix::FromNative(std::string_view(buffer.data(), length));
        }
        // The link may have been cut short; try again with more room.
        buffer.resize(buffer.size() * 2);
    }
}

std::u16string SystemLocalAppDataFolder() {
    // A relative XDG_DATA_HOME is invalid and must be ignored.
    if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
        return Posix::FromNative(WithoutTrailingSeparator(data));
    }
    const std::string home = HomeFolder();
    if (home.empty()) {
        return {};
    }
    std::string base = WithoutTrailingSeparator(home);
    if (base == "/") {
        base.clear();
    }
    return Posix::FromNative(base + "/.local/share");
}

std::u16string SystemHostsFilePath() {
    return u"/etc/hosts";
}

}  // namespace Platform::Paths
