// How a list entry's fields become the file the engine fetches and checks.
#include <gtest/gtest.h>

#include "DownloadSystem/ListedFile.h"

namespace DownloadSystem {
namespace {

const std::u16string Sha = u"00112233445566778899aabbccddeeff00112233445566778899aabbccddeeff";

struct Row {
    const char* what;
    std::vector<std::u16string> fields;
    bool listSigned;
    std::u16string name;
    std::uint32_t size;
    std::optional<std::uint64_t> sizeBound;
    std::int32_t crc;
    bool complete;
    bool hasSha256;
    std::vector<std::u16string> further;
};

TEST(ListedFileTest, ReadsTheFieldsItIsGiven) {
    const Row rows[] = {
        {"no fields", {}, false, u"", 0, std::nullopt, 0, false, false, {}},
        {"name only", {u"a.bin"}, false, u"a.bin", 0, std::nullopt, 0, false, false, {}},
        {"name and size", {u"a.bin", u"12"}, false, u"a.bin", 12, 12, 0, false, false, {}},
        {"whole", {u"a.bin", u"12", u"-5"}, false, u"a.bin", 12, 12, -5, true, false, {}},
        {"hex size bounds nothing",
         {u"a", u"0x10", u"1"},
         false,
         u"a",
         16,
         std::nullopt,
         1,
         true,
         false,
         {}},
        {"unsigned list keeps the hash unread",
         {u"a", u"1", u"2", Sha, u"x"},
         false,
         u"a",
         1,
         1,
         2,
         true,
         false,
         {Sha, u"x"}},
        {"signed list reads it", {u"a", u"1", u"2", Sha}, true, u"a", 1, 1, 2, true, true, {Sha}},
        {"signed, not a hash",
         {u"a", u"1", u"2", u"zz"},
         true,
         u"a",
         1,
         1,
         2,
         true,
         false,
         {u"zz"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const ListedFile file = ReadListedFile(FileListEntry{row.fields}, row.listSigned);
        EXPECT_EQ(file.name, row.name);
        EXPECT_EQ(file.size, row.size);
        EXPECT_EQ(file.sizeBound, row.sizeBound);
        EXPECT_EQ(file.crc, row.crc);
        EXPECT_EQ(file.complete, row.complete);
        EXPECT_EQ(file.sha256.has_value(), row.hasSha256);
        EXPECT_EQ(file.further, row.further);
    }
    const ListedFile signedFile = ReadListedFile(FileListEntry{{u"a", u"1", u"2", Sha}}, true);
    ASSERT_TRUE(signedFile.sha256);
    EXPECT_EQ((*signedFile.sha256)[0], 0x00);
    EXPECT_EQ((*signedFile.sha256)[1], 0x11);
    EXPECT_EQ((*signedFile.sha256)[31], 0xff);
}

}  // namespace
}  // namespace DownloadSystem
