// Windows backend of MachineFacts.h: the registry's Cryptography\MachineGuid (read from the
// 64-bit view, where Windows keeps it), the volume GUID name of the system drive, and
// CPUID leaf 0 through the compiler's cpuid.h.
#include "Platform/MachineFacts.h"

#include <windows.h>

#include <cpuid.h>

#include "Platform/Win32Text.h"

namespace Platform::MachineFacts {

namespace {

std::string Trimmed(std::string text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.back())) {
        text.pop_back();
    }
    std::size_t start = 0;
    while (start < text.size() && blank(text[start])) {
        ++start;
    }
    return text.substr(start);
}

// The system drive ("C:\"), from the Windows folder's location.
std::wstring SystemDriveRoot() {
    wchar_t folder[MAX_PATH] = {};
    const UINT length = GetSystemWindowsDirectoryW(folder, MAX_PATH);
    if (length >= 3 && length < MAX_PATH && folder[1] == L':') {
        return std::wstring(folder, 2) + L"\\";
    }
    return L"C:\\";
}

}  // namespace

bool ReadMachineId(std::string& id) {
    id.clear();
    wchar_t value[128] = {};
    DWORD size = sizeof value;
    const LSTATUS status =
        RegGetValueW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Cryptography", L"MachineGuid",
                     RRF_RT_REG_SZ | RRF_SUBKEY_WOW6464KEY, nullptr, value, &size);
    if (status != ERROR_SUCCESS) {
        SetLastError(static_cast<DWORD>(status));
        return false;
    }
    id = Trimmed(Win32::NarrowToUtf8(value));
    if (id.empty()) {
        SetLastError(ERROR_INVALID_DATA);
        return false;
    }
    return true;
}

bool ReadSystemVolumeId(std::string& id) {
    id.clear();
    wchar_t name[MAX_PATH] = {};
    if (!GetVolumeNameForVolumeMountPointW(SystemDriveRoot().c_str(), name, MAX_PATH)) {
        return false;
    }
    id = Win32::NarrowToUtf8(name);
    return !id.empty();
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
