// The platform-neutral half of Paths.h: the overrides that tests set, in front of the
// backend's own lookups (PathsBackend.h).
#include "Platform/Paths.h"

#include <mutex>

#include "Platform/PathsBackend.h"

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

// The override when one is set, else what `lookup` finds.
std::u16string OverriddenOr(std::u16string Overrides::*member, std::u16string (*lookup)()) {
    {
        Overrides& overrides = TheOverrides();
        std::lock_guard guard(overrides.lock);
        if (!(overrides.*member).empty()) {
            return overrides.*member;
        }
    }
    return lookup();
}

void SetOverride(std::u16string Overrides::*member, const std::u16string& path) {
    Overrides& overrides = TheOverrides();
    std::lock_guard guard(overrides.lock);
    overrides.*member = path;
}

}  // namespace

std::u16string ExecutablePath() {
    return OverriddenOr(&Overrides::executable, SystemExecutablePath);
}

std::u16string LocalAppDataFolder() {
    return OverriddenOr(&Overrides::localAppData, SystemLocalAppDataFolder);
}

std::u16string HostsFilePath() {
    return OverriddenOr(&Overrides::hosts, SystemHostsFilePath);
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
