// Facts that identify the machine: its installation id, the id of the volume the
// system runs from, and the processor's CPUID leaf 0.
//
// Writing another backend: read each fact from the system (Windows: the registry
// value MachineGuid, the volume GUID of the system drive, __cpuid). A fact that is
// unavailable gives false with an empty/zero result and an error number for
// LastSystemError() (SystemError.h); the caller decides how to go on without it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace Platform::MachineFacts {

// The machine's installation id. Windows: the registry value MachineGuid exactly as
// stored (normally a GUID without braces); only a key that cannot be opened gives false,
// a missing value gives true with an empty id. Linux: /etc/machine-id, else
// /var/lib/dbus/machine-id (32 hexadecimal characters) without its line break; an empty
// id file gives false with ENODATA.
bool ReadMachineId(std::string& id);

// The id of the system volume. Windows: the GUID of the volume mounted at "C:\\" (see
// VolumeGuidOfPath; empty when its volume path has no braces); false when the volume
// path cannot be had. Linux: the UUID of the file system mounted at "/", found through
// /dev/disk/by-uuid or the udev database, as the system writes it (lower case with
// dashes for most file systems); false with ENOENT when the root is not a block device
// with a known UUID (containers, overlay roots).
bool ReadSystemVolumeId(std::string& id);

// The text strictly between the first "{" and the first "}" after it of a volume path
// such as "\\\\?\\Volume{GUID}\\"; empty when either brace is missing.
inline std::string VolumeGuidOfPath(std::string_view path) {
    const std::size_t open = path.find('{');
    if (open == std::string_view::npos) {
        return {};
    }
    const std::size_t close = path.find('}', open + 1);
    if (close == std::string_view::npos) {
        return {};
    }
    return std::string(path.substr(open + 1, close - open - 1));
}

// The four registers of CPUID leaf 0 (EAX = highest basic leaf; EBX, EDX, ECX hold
// the vendor text, four characters each, little-endian).
struct CpuidLeaf0 {
    std::uint32_t eax = 0;
    std::uint32_t ebx = 0;
    std::uint32_t ecx = 0;
    std::uint32_t edx = 0;

    // The 12-character vendor text, e.g. "GenuineIntel" (EBX, EDX, ECX in that order).
    std::string Vendor() const {
        std::string vendor;
        for (const std::uint32_t reg : {ebx, edx, ecx}) {
            for (int shift = 0; shift < 32; shift += 8) {
                vendor += static_cast<char>((reg >> shift) & 0xFF);
            }
        }
        return vendor;
    }
};

// False with all registers zero and ENOSYS on processors without CPUID.
bool ReadCpuidLeaf0(CpuidLeaf0& leaf);

}  // namespace Platform::MachineFacts
