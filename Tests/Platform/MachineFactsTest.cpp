// Machine facts on this machine: present facts are read as stored, and a missing
// root volume id is reported the documented way.
#include <cctype>
#include <cerrno>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "Platform/MachineFacts.h"
#include "Platform/SystemError.h"

namespace {

namespace Facts = Platform::MachineFacts;

TEST(MachineFactsTest, MachineIdIsTheStoredIdWithoutLineBreak) {
    std::ifstream file("/etc/machine-id");
    std::string stored;
    if (!(file >> stored)) {
        GTEST_SKIP() << "this machine has no /etc/machine-id";
    }
    std::string id = "stale";
    ASSERT_TRUE(Facts::ReadMachineId(id));
    EXPECT_EQ(id, stored);
    EXPECT_EQ(id.size(), 32u);
}

TEST(MachineFactsTest, SystemVolumeIdOrDocumentedAbsence) {
    std::string id = "stale";
    if (Facts::ReadSystemVolumeId(id)) {
        EXPECT_FALSE(id.empty());
        for (const char c : id) {
            EXPECT_TRUE(std::isxdigit(static_cast<unsigned char>(c)) || c == '-') << id;
        }
        std::string again;
        ASSERT_TRUE(Facts::ReadSystemVolumeId(again));
        EXPECT_EQ(again, id);
    } else {
        EXPECT_EQ(Platform::LastSystemError(), ENOENT);
        EXPECT_TRUE(id.empty());
    }
}

TEST(MachineFactsTest, CpuidLeafZeroIsStableAndNamesTheVendor) {
    Facts::CpuidLeaf0 leaf;
#if defined(__x86_64__) || defined(__i386__)
    ASSERT_TRUE(Facts::ReadCpuidLeaf0(leaf));
    EXPECT_GT(leaf.eax, 0u);
    const std::string vendor = leaf.Vendor();
    ASSERT_EQ(vendor.size(), 12u);
    for (const char c : vendor) {
        EXPECT_TRUE(std::isprint(static_cast<unsigned char>(c))) << vendor;
    }
    Facts::CpuidLeaf0 again;
    ASSERT_TRUE(Facts::ReadCpuidLeaf0(again));
    EXPECT_EQ(again.Vendor(), vendor);
    EXPECT_EQ(again.eax, leaf.eax);
#else
    EXPECT_FALSE(Facts::ReadCpuidLeaf0(leaf));
    EXPECT_EQ(Platform::LastSystemError(), ENOSYS);
#endif
}

TEST(MachineFactsTest, VendorTextIsEbxEdxEcxLittleEndian) {
    Facts::CpuidLeaf0 leaf;
    leaf.ebx = 0x756e6547;  // "Genu"
    leaf.edx = 0x49656e69;  // "ineI"
    leaf.ecx = 0x6c65746e;  // "ntel"
    EXPECT_EQ(leaf.Vendor(), "GenuineIntel");
}

}  // namespace
