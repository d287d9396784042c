// Windows backend of MachineFacts.h: the registry's Cryptography\MachineGuid as stored, the
// GUID of the volume mounted at C:\, and CPUID leaf 0 through the compiler's cpuid.h.
#include "Platform/MachineFacts.h"

#include <windows.h>

#include <cpuid.h>

#include <cstring>

namespace Platform::MachineFacts {

bool ReadMachineId(std::string& id) {
    id.clear();
    // The 64-bit view first, where Windows keeps the value; a system without one has a
    // single view.
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", 0,
                                   KEY_READ | KEY_WOW64_64KEY, &key);
    if (status != ERROR_SUCCESS) {
        status = RegOpenKeyExA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", 0, KEY_READ,
                               &key);
    }
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return false;
    }
    // The value as stored, whatever its type; the identifier depends on these exact bytes.
    char value[255] = {};
    DWORD size = sizeof value;
    if (RegQueryValueExA(key, "MachineGuid", nullptr, nullptr, reinterpret_cast<BYTE*>(value),
                         &size) == ERROR_SUCCESS) {
        id.assign(value, strnlen(value, sizeof value));
    }
    RegCloseKey(key);
    return true;
}

bool ReadSystemVolumeId(std::string& id) {
    id.clear();
    char path[1024] = {};
    if (!GetVolumeNameForVolumeMountPointA("C:\\", path, sizeof path - 1)) {
        return false;
    }
    id = VolumeGuidOfPath(path);
    return true;
}

bool ReadCpuidLeaf0(CpuidLeaf0& leaf) {
    leaf = {};
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(0, &eax, &ebx, &ecx, &edx)) {
        SetLastError(ERROR_NOT_SUPPORTED);
        return false;
    }
    leaf.eax = eax;
    leaf.ebx = ebx;
    leaf.ecx = ecx;
    leaf.edx = edx;
    return true;
}

}  // namespace Platform::MachineFacts
