// The machine identifier's recipe with fixed facts: how the pieces are joined, which
// failures are reported, and the volume GUID taken from a volume path.
#include "DownloadSystem/ComputerId.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Support/ErrorLog.h"

namespace {

using DownloadSystem::ComputerId;
using DownloadSystem::MachineFactSource;
using Platform::MachineFacts::CpuidLeaf0;

// The facts the stubs hand out; a null text means the fact is unavailable.
struct Facts {
    const char* machineId;
    const char* volumeId;
    CpuidLeaf0 leaf;
};
Facts current{};

MachineFactSource Stubbed(const Facts& facts) {
    current = facts;
    MachineFactSource source;
    source.readMachineId = [](std::string& id) {
        id = current.machineId != nullptr ? current.machineId : "";
        return current.machineId != nullptr;
    };
    source.readSystemVolumeId = [](std::string& id) {
        id = current.volumeId != nullptr ? current.volumeId : "";
        return current.volumeId != nullptr;
    };
    source.readCpuidLeaf0 = [](CpuidLeaf0& leaf) {
        leaf = current.leaf;
        return true;
    };
    return source;
}

constexpr CpuidLeaf0 Intel{22, 0x756E6547, 0x6C65746E, 0x49656E69};
constexpr CpuidLeaf0 HighBits{0x80000001u, 0xFFFFFFFFu, 0, 7};

TEST(ComputerIdTest, IdentifierTextJoinsTheFactsAsTheServiceExpects) {
    const char* const registryKeyError =
        "Unable to open HKLM\\Software\\Microsoft\\Cryptography registry key";
    const char* const volumeError = "GetVolumeNameForVolumeMountPoint failed";
    struct Row {
        Facts facts;
        std::string text;
        std::vector<std::string> reported;
    };
    const Row rows[] = {
        {{"4c4c4544-0042-3510-8052-b4c04f4e3332", "0f3a9c1e-7d55-11e9-a2b4-806e6f6e6963", Intel},
         "4c4c4544-0042-3510-8052-b4c04f4e3332|0f3a9c1e-7d55-11e9-a2b4-806e6f6e6963"
         "22197016915918185882701231384169",
         {}},
        // The value as stored: white space is part of it.
        {{" guid \n", "v", HighBits}, " guid \n|v-2147483647-107", {}},
        // A stored but empty value is no failure.
        {{"", "v", Intel}, "|v22197016915918185882701231384169", {}},
        {{nullptr, "v", Intel}, "|v22197016915918185882701231384169", {registryKeyError}},
        {{"g", nullptr, Intel}, "g|22197016915918185882701231384169", {volumeError}},
        {{nullptr, nullptr, {}}, "|0000", {registryKeyError, volumeError}},
    };
    for (const Row& row : rows) {
        vesk::ClearErrors();
        EXPECT_EQ(ComputerId(Stubbed(row.facts)).BuildIdentifierText(), row.text);
        EXPECT_EQ(vesk::GetErrorMessages(), row.reported) << row.text;
    }
    vesk::ClearErrors();
}

TEST(ComputerIdTest, IdentifierIsTheLowerCaseSha1OfTheText) {
    const MachineFactSource source = Stubbed({nullptr, nullptr, {}});
    std::string narrow = "stale";
    std::u16string wide;
    EXPECT_TRUE(ComputerId(source).GetComputerId(narrow));
    EXPECT_TRUE(ComputerId(source).GetComputerId(wide));
    EXPECT_EQ(narrow, "54fe3d58e333669df6670a6383e3a5a405e94c12");  // SHA-1 of "|0000"
    EXPECT_EQ(wide, u"54fe3d58e333669df6670a6383e3a5a405e94c12");
    vesk::ClearErrors();
}

TEST(ComputerIdTest, AFailedDigestNamesTheFailingCallAndKeepsTheText) {
    vesk::ClearErrors();
    MachineFactSource source = Stubbed({"m", "v", {}});
    source.sha1 = [](const std::string&, unsigned long& number, const char*& call) {
        number = 0x80090008;  // the provider refuses the algorithm
        call = "CryptCreateHash";
        return std::vector<std::uint8_t>{};
    };
    std::string text = "kept";
    EXPECT_TRUE(ComputerId(source).GetComputerId(text));
    EXPECT_EQ(text, "kept");
    EXPECT_EQ(vesk::GetErrorMessages(), std::vector<std::string>{"CryptCreateHash"});
    vesk::ClearErrors();
}

TEST(ComputerIdTest, VolumeGuidIsWhatStandsBetweenTheBraces) {
    struct Row {
        const char* path;
        const char* guid;
    };
    const Row rows[] = {
        {"\\\\?\\Volume{0f3a9c1e-7d55-11e9-a2b4-806e6f6e6963}\\",
         "0f3a9c1e-7d55-11e9-a2b4-806e6f6e6963"},
        {"{a}{b}", "a"},
        {"x}{a}", "a"},
        {"{}", ""},
        {"\\\\?\\Volume{open", ""},
        {"\\\\?\\Volume\\", ""},
        {"", ""},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Platform::MachineFacts::VolumeGuidOfPath(row.path), row.guid) << row.path;
    }
}

}  // namespace
