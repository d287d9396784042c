// File list text, local names, the name safety rule and the size and CRC fields.
#include <gtest/gtest.h>

#include "DownloadSystem/FileList.h"

namespace DownloadSystem {
namespace {

TEST(FileListTest, ParsesEntriesThatEndWithSemicolon) {
    const FileList two = ParseFileListText(u"a.bin\r\n10\r\n-5\r\n;b.exe\r\n20\r\n7;");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_EQ(two[0].fields, (std::vector<std::u16string>{u"a.bin", u"10", u"-5"}));
    EXPECT_EQ(two[1].fields, (std::vector<std::u16string>{u"b.exe", u"20", u"7"}));

    // Whatever follows the last ";" is an unfinished entry.
    EXPECT_EQ(ParseFileListText(u"a.bin\r\n10\r\n-5;b.exe\r\n20\r\n7").size(), 1u);
    EXPECT_TRUE(ParseFileListText(u"a.bin\r\n10\r\n-5").empty());
    EXPECT_TRUE(ParseFileListText(u"").empty());

    // A line break after ";" gives the next entry an empty first field.
    const FileList shifted = ParseFileListText(u"a\r\n1\r\n2;\r\nb\r\n3\r\n4;");
    ASSERT_EQ(shifted.size(), 2u);
    EXPECT_EQ(shifted[1].fields.at(0), u"");
    EXPECT_FALSE(IsPlainFileName(shifted[1].fields.at(0)));
}

TEST(FileListTest, LocalNamesTakeTheProductSuffix) {
    EXPECT_EQ(MakeLocalName(u"Setup.exe", u"_P1"), u"Setup_P1.exe");
    EXPECT_EQ(MakeLocalName(u"Setup-1a.bin", u"_P1"), u"Setup_P1-1a.bin");
    EXPECT_EQ(MakeLocalName(u"abcdefg", u"_P1"), u"_P1abcdefg");
    // Too short for the slice position: the suffix goes in front, the extension stays.
    EXPECT_EQ(MakeLocalName(u"a.bin", u"_P1"), u"_P1a.bin");
    EXPECT_EQ(MakeLocalName(u"", u"_P1"), u"_P1");
}

TEST(FileListTest, OnlyPlainNamesAreSafe) {
    EXPECT_TRUE(IsPlainFileName(u"Setup-1a.bin"));
    EXPECT_TRUE(IsPlainFileName(u"..hidden"));
    for (const char16_t* name :
         {u"", u".", u"..", u"../x.bin", u"a/b", u"a\\b", u"/etc/passwd", u"C:x", u"a\nb"}) {
        EXPECT_FALSE(IsPlainFileName(name)) << "accepted an unsafe name";
    }
}

TEST(FileListTest, NamesWindowsCannotHoldAreUnsafeEverywhere) {
    // Device names with any extension or case, trailing dots and spaces, refused characters.
    for (const char16_t* name : {u"CON", u"con.txt", u"Nul.tar.gz", u"aux", u"PRN.bin", u"COM1",
                                 u"com9.log", u"LPT1", u"lpt3.dat", u"CON .txt", u"Setup.exe.",
                                 u"Setup.exe ", u"a<b", u"a>b", u"a\"b", u"a|b", u"a?b", u"a*b"}) {
        EXPECT_FALSE(IsPlainFileName(name)) << "accepted a name Windows cannot hold";
    }
    for (const char16_t* name : {u"CONSOLE.bin", u"COM10", u"COM0", u"LPT", u"icon.png",
                                 u"nul-1a.bin", u"Data 1.bin", u".hidden"}) {
        EXPECT_TRUE(IsPlainFileName(name)) << "refused an ordinary name";
    }
}

TEST(FileListTest, LocalNamesAndPathsCompareAsWindowsDoes) {
    EXPECT_TRUE(IsSameLocalPath(u"Data-1a.bin", u"DATA-1A.BIN"));
    EXPECT_FALSE(IsSameLocalPath(u"Data-1a.bin", u"Data-1b.bin"));
    EXPECT_FALSE(IsSameLocalPath(u"Data-1a.bin", u"Data-1a.bin2"));
    // The running program's path comes with backslashes on Windows, a listed file's
    // path is joined with "/".
    EXPECT_TRUE(
        IsSameLocalPath(u"C:\\Users\\J\\Sorvan_9_4_P1.exe", u"c:\\users\\j/SORVAN_9_4_P1.EXE"));
    EXPECT_TRUE(IsSameLocalPath(u"/home/j/Sorvan_9_4_P1.exe", u"/home/j/Sorvan_9_4_P1.exe"));
    EXPECT_FALSE(IsSameLocalPath(u"C:\\Users\\J\\a.exe", u"C:\\Users\\J\\b.exe"));
}

TEST(FileListTest, CrcFieldIsSignedDecimalWithSaturation) {
    // 0xCBF43926 written as its negative two's complement.
    EXPECT_EQ(static_cast<std::uint32_t>(ParseExpectedCrc(u"-873187034")), 0xCBF43926u);
    // The same value as unsigned decimal saturates and can never match.
    EXPECT_EQ(ParseExpectedCrc(u"3421780262"), 2147483647);
    EXPECT_EQ(ParseExpectedCrc(u"-99999999999"), -2147483647 - 1);
    EXPECT_EQ(ParseExpectedCrc(u"  +42x"), 42);
    EXPECT_EQ(ParseExpectedCrc(u"abc"), 0);
}

TEST(FileListTest, SizeFieldAcceptsBasePrefixesAndSaturates) {
    EXPECT_EQ(ParseListSize(u"1000"), 1000u);
    EXPECT_EQ(ParseListSize(u"0x10"), 16u);
    EXPECT_EQ(ParseListSize(u"010"), 8u);
    EXPECT_EQ(ParseListSize(u"99999999999"), 4294967295u);
    EXPECT_EQ(ParseListSize(u""), 0u);
}

TEST(FileListTest, OnlyAPlainDecimalSizeBoundsTheBody) {
    const std::pair<const char16_t*, std::optional<std::uint64_t>> cases[] = {
        {u"1000", 1000u},
        {u"0", 0u},
        {u"4294967294", 4294967294u},
        {u"4294967295", {}},
        {u"99999999999", {}},
        {u"010", {}},
        {u"0x10", {}},
        {u"", {}},
        {u" 12", {}},
        {u"12abc", {}},
        {u"-1", {}},
    };
    for (const auto& [text, bound] : cases) {
        EXPECT_EQ(ListedSizeBound(text), bound);
    }
}

TEST(FileListTest, ObjectPathsNeverCarryEmptyFolders) {
    EXPECT_EQ(JoinUrlPath({u"", u"Sorvan_12_5.txt"}), u"/Sorvan_12_5.txt");
    EXPECT_EQ(JoinUrlPath({u"Rel", u"Sorvan_9_4.txt"}), u"/Rel/Sorvan_9_4.txt");
    EXPECT_EQ(JoinUrlPath({u"", u"", u"a.bin"}), u"/a.bin");
    EXPECT_EQ(JoinUrlPath({u"/x/", u"sig,1/rel", u"a.bin"}), u"/x/sig,1/rel/a.bin");
    EXPECT_EQ(JoinUrlPath({u"", u""}), u"/");
}

}  // namespace
}  // namespace DownloadSystem
