// Machine identifier from the platform's machine facts and a SHA-1 digest.
#include "DownloadSystem/ComputerId.h"

#include <cstdint>
#include <cstdio>

#include "Platform/Crypto.h"
#include "Platform/SystemError.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {

bool ComputerId::ReadMachineGuid(std::string& text) {
    text.clear();
    if (!facts_.readMachineId(text)) {
        VESK_REPORT_ERROR("Unable to open HKLM\\Software\\Microsoft\\Cryptography registry key",
                          Platform::LastSystemError());
        text.clear();
        return false;
    }
    return true;
}

bool ComputerId::ReadSystemVolumeGuid(std::string& text) {
    text.clear();
    if (!facts_.readSystemVolumeId(text)) {
        VESK_REPORT_ERROR("GetVolumeNameForVolumeMountPoint failed", Platform::LastSystemError());
        text.clear();
        return false;
    }
    return true;
}

std::string ComputerId::BuildIdentifierText() {
    std::string machine;
    std::string volume;
    ReadMachineGuid(machine);
    ReadSystemVolumeGuid(volume);
    Platform::MachineFacts::CpuidLeaf0 leaf;
    facts_.readCpuidLeaf0(leaf);  // all zero without CPUID
    std::string text = machine + "|" + volume;
    for (std::uint32_t reg : {leaf.eax, leaf.ebx, leaf.ecx, leaf.edx}) {
        text += std::to_string(static_cast<std::int32_t>(reg));
    }
    return text;
}

std::vector<std::uint8_t> MachineFactSource::PlatformSha1(const std::string& text,
                                                          unsigned long& errorNumber,
                                                          const char*& failedCall) {
    return Platform::ComputeHash(Platform::HashAlgorithm::Sha1, text.data(), text.size(),
                                 &errorNumber, &failedCall);
}

bool ComputerId::HashToHexText(const std::string& text, std::string& hex) {
    unsigned long errorNumber = 0;
    const char* failedCall = nullptr;
    const std::vector<std::uint8_t> digest = facts_.sha1(text, errorNumber, failedCall);
    if (digest.size() != Platform::HashLength(Platform::HashAlgorithm::Sha1)) {
        // The entry names the system call that failed, as the service's reports are read.
        VESK_REPORT_ERROR(failedCall != nullptr ? failedCall : "CryptGetHashParam",
                          static_cast<int>(errorNumber));
        return false;
    }
    std::string out;
    out.reserve(digest.size() * 2);
    char pair[3];
    for (std::uint8_t byte : digest) {
        std::snprintf(pair, sizeof pair, "%02x", static_cast<unsigned>(byte));
        out += pair;
    }
    hex = std::move(out);
    return true;
}

bool ComputerId::GetComputerId(std::string& text) {
    HashToHexText(BuildIdentifierText(), text);
    return true;
}

bool ComputerId::GetComputerId(std::u16string& text) {
    std::string narrow;
    GetComputerId(narrow);
    text = vesk::StringUtils::ToWide(narrow);
    return true;
}

}  // namespace DownloadSystem
