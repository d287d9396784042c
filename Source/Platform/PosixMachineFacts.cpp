// Linux backend of MachineFacts.h: the systemd/D-Bus machine id, the UUID of the
// root file system from the udev-managed device links, and CPUID through <cpuid.h>.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "Platform/MachineFacts.h"

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace Platform::MachineFacts {

namespace {

std::string Trimmed(const std::string& text) {
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) {
        return {};
    }
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

// Reads the start of a small text file (ids are far shorter than the cap); false
// with errno from the failed open or read.
bool ReadSmallFile(const char* path, std::string& text) {
    const int descriptor = ::open(path, O_RDONLY | O_CLOEXEC);
    if (descriptor < 0) {
        return false;
    }
    char buffer[4096];
    ssize_t got;
    do {
        got = ::read(descriptor, buffer, sizeof buffer);
    } while (got < 0 && errno == EINTR);
    const int error = errno;
    ::close(descriptor);
    if (got < 0) {
        errno = error;
        return false;
    }
    text.assign(buffer, static_cast<std::size_t>(got));
    return true;
}

// Mount points and sources in /proc/self/mountinfo escape blanks as octal (\040).
std::string Unescaped(const std::string& field) {
    std::string out;
    for (std::size_t i = 0; i < field.size(); ++i) {
        const auto octal = [&](std::size_t k) { return field[k] >= '0' && field[k] <= '7'; };
        if (field[i] == '\\' && i + 3 < field.size() && octal(i + 1) && octal(i + 2) &&
            octal(i + 3)) {
            out += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                     (field[i + 3] - '0'));
            i += 3;
        } else {
            out += field[i];
        }
    }
    return out;
}

// The device named as the source of the "/" mount; later mounts over "/" win.
std::string RootMountSource() {
    std::ifstream mounts("/proc/self/mountinfo");
    std::string line;
    std::string source;
    while (std::getline(mounts, line)) {
        std::istringstream fields(line);
        std::string id, parent, numbers, root, mountPoint;
        if (!(fields >> id >> parent >> numbers >> root >> mountPoint) ||
            Unescaped(mountPoint) != "/") {
            continue;
        }
        const auto separator = line.find(" - ");
        if (separator == std::string::npos) {
            continue;
        }
        std::istringstream tail(line.substr(separator + 3));
        std::string type, device;
        if (tail >> type >> device) {
            source = Unescaped(device);
        }
    }
    return source;
}

std::string UuidFromDeviceLinks(dev_t device) {
    const std::string folder = "/dev/disk/by-uuid";
    DIR* links = ::opendir(folder.c_str());
    if (links == nullptr) {
        return {};
    }
    std::string uuid;
    while (const dirent* entry = ::readdir(links)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") {
            continue;
        }
        struct stat info {};
        if (::stat((folder + "/" + name).c_str(), &info) == 0 && S_ISBLK(info.st_mode) &&
            info.st_rdev == device) {
            uuid = name;
            break;
        }
    }
    ::closedir(links);
    return uuid;
}

std::string UuidFromUdevDatabase(dev_t device) {
    const std::string path =
        "/run/udev/data/b" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::ifstream record(path);
    std::string line;
    const std::string key = "E:ID_FS_UUID=";
    while (std::getline(record, line)) {
        if (line.rfind(key, 0) == 0) {
            return Trimmed(line.substr(key.size()));
        }
    }
    return {};
}

}  // namespace

bool ReadMachineId(std::string& id) {
    id.clear();
    std::string text;
    if (!ReadSmallFile("/etc/machine-id", text) &&
        !ReadSmallFile("/var/lib/dbus/machine-id", text)) {
        return false;
    }
    id = Trimmed(text);
    if (id.empty()) {
        errno = ENODATA;
        return false;
    }
    return true;
}

bool ReadSystemVolumeId(std::string& id) {
    id.clear();
    // The root's own device number matches the device links for ordinary file
    // systems; for file systems with anonymous device numbers (btrfs) the mount
    // source names the block device instead.
    std::vector<dev_t> candidates;
    struct stat info {};
    if (::stat("/", &info) == 0) {
        candidates.push_back(info.st_dev);
    }
    const std::string source = RootMountSource();
    if (!source.empty() && source[0] == '/' && ::stat(source.c_str(), &info) == 0 &&
        S_ISBLK(info.st_mode)) {
        candidates.push_back(info.st_rdev);
    }
    for (const dev_t device : candidates) {
        id = UuidFromDeviceLinks(device);
        if (id.empty()) {
            id = UuidFromUdevDatabase(device);
        }
        if (!id.empty()) {
            return true;
        }
    }
    errno = ENOENT;
    return false;
}

bool ReadCpuidLeaf0(CpuidLeaf0& leaf) {
    leaf = {};
#if defined(__x86_64__) || defined(__i386__)
    unsigned int eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (__get_cpuid(0, &eax, &ebx, &ecx, &edx) != 0) {
        leaf = {eax, ebx, ecx, edx};
        return true;
    }
#endif
    errno = ENOSYS;
    return false;
}

}  // namespace Platform::MachineFacts
