// The machine identifier sent to the download service: 40 lower-case hex characters,
// the SHA-1 of machine id + "|" + system volume id + the decimal CPUID leaf 0
// registers (EAX, EBX, ECX, EDX as signed numbers). Stable across runs on one machine.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "Platform/MachineFacts.h"

namespace DownloadSystem {

// Where the identifier's facts come from: the platform's by default; tests hand in
// fixed ones to check the recipe without depending on the machine they run on.
struct MachineFactSource {
    bool (*readMachineId)(std::string&) = Platform::MachineFacts::ReadMachineId;
    bool (*readSystemVolumeId)(std::string&) = Platform::MachineFacts::ReadSystemVolumeId;
    bool (*readCpuidLeaf0)(Platform::MachineFacts::CpuidLeaf0&) =
        Platform::MachineFacts::ReadCpuidLeaf0;
    // The SHA-1 of `text`; empty on failure, with the error code and the failing call.
    std::vector<std::uint8_t> (*sha1)(const std::string& text, unsigned long& errorNumber,
                                      const char*& failedCall) = PlatformSha1;

    static std::vector<std::uint8_t> PlatformSha1(const std::string& text,
                                                  unsigned long& errorNumber,
                                                  const char*& failedCall);
};

class ComputerId {
public:
    ComputerId() = default;
    explicit ComputerId(const MachineFactSource& facts) : facts_(facts) {}
    virtual ~ComputerId() = default;

    // Always true. Replaces `text` with the identifier; when hashing fails `text`
    // keeps what it held (failures are on the error list). A fact the machine cannot
    // give leaves its piece empty and is reported; the rest still counts.
    bool GetComputerId(std::string& text);
    bool GetComputerId(std::u16string& text);

    // The steps. Each returns false, with the failure reported, when it fails.
    bool ReadMachineGuid(std::string& text);
    bool ReadSystemVolumeGuid(std::string& text);
    bool HashToHexText(const std::string& text, std::string& hex);

    // The text that is hashed.
    std::string BuildIdentifierText();

private:
    MachineFactSource facts_;
};

}  // namespace DownloadSystem
