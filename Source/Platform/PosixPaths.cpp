// Linux backend of Paths.h: /proc/self/exe, the XDG data folder, /etc/hosts, and the
// overrides that tests set.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <vector>

#include "Platform/Paths.h"
#include "Platform/PosixText.h"

namespace Platform::Paths {

namespace {

struct Overrides {
    std::mutex lock;
    std::u16string executable;
    std::u16string localAppData;
    std::u16string hosts;
};

Overrides& TheOverrides() {
    static Overrides overrides;
    return overrides;
}

std::optional<std::u16string> Overridden(std::u16string Overrides::*member) {
    Overrides& overrides = TheOverrides();
    std::lock_guard guard(overrides.lock);
    const std::u16string& value = overrides.*member;
    if (value.empty()) {
        return std::nullopt;
    }
    return value;
}

void SetOverride(std::u16string Overrides::*member, const std::u16string& path) {
    Overrides& overrides = TheOverrides();
    std::lock_guard guard(overrides.lock);
    overrides.*member = path;
}

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

std::u16string ExecutablePath() {
    if (auto path = Overridden(&Overrides::executable)) {
        return *path;
    }
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

std::u16string LocalAppDataFolder() {
    if (auto path = Overridden(&Overrides::localAppData)) {
        return *path;
    }
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

std::u16string HostsFilePath() {
    if (auto path = Overridden(&Overrides::hosts)) {
        return *path;
    }
    return u"/etc/hosts";
}

void OverrideExecutablePath(const std::u16string& path) {
    SetOverride(&Overrides::executable, path);
}

void OverrideLocalAppDataFolder(const std::u16string& path) {
    SetOverride(&Overrides::localAppData, path);
}

void OverrideHostsFilePath(const std::u16string& path) {
    SetOverride(&Overrides::hosts, path);
}

}  // namespace Platform::Paths
