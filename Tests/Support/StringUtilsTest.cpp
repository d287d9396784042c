// StringUtils: splitting, joining, encoding, replacing, file names, URL splitting,
// conversions and digests.
#include "Support/StringUtils.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

using Narrow = std::vector<std::string>;
using Wide = std::vector<std::u16string>;

std::string Hex(const ByteBuffer& buffer) {
    std::string out;
    for (std::uint64_t i = 0; i < buffer.Size(); ++i) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02x", buffer.Data()[i]);
        out += digits;
    }
    return out;
}

TEST(StringUtilsTest, SplitCountsDelimitersAndKeepsOrDropsEmptyPieces) {
    Narrow pieces;
    EXPECT_EQ(StringUtils::Split("a/b//c/", "/", pieces, false), 4u);
    EXPECT_EQ(pieces, (Narrow{"a", "b", "c"}));
    pieces.clear();
    EXPECT_EQ(StringUtils::Split("a/b//c/", "/", pieces, true), 4u);
    EXPECT_EQ(pieces, (Narrow{"a", "b", "", "c", ""}));

    pieces = {"kept"};
    EXPECT_EQ(StringUtils::Split("abc", "/", pieces, true), 0u);
    EXPECT_EQ(StringUtils::Split("", "/", pieces, true), 0u);
    EXPECT_EQ(StringUtils::Split("abc", "", pieces, true), 0u);
    EXPECT_EQ(pieces, Narrow{"kept"}) << "the list is appended to, never cleared";

    Wide wide;
    EXPECT_EQ(StringUtils::Split(u"x::y::", u"::", wide, false), 2u);
    EXPECT_EQ(wide, (Wide{u"x", u"y"}));
}

TEST(StringUtilsTest, JoinSkipsSeparatorWhileTextIsEmpty) {
    EXPECT_EQ(StringUtils::Join({u"", u"a", u"", u"b"}, u"/"), u"a//b");
    EXPECT_EQ(StringUtils::Join({}, u"/"), u"");
}

TEST(StringUtilsTest, UrlEncodeKeepsOnlyLettersAndDigits) {
    EXPECT_EQ(StringUtils::UrlEncode(u"a b-c"), u"a%20b%2dc");
    EXPECT_EQ(StringUtils::UrlEncode(u"AZaz09_.~"), u"AZaz09%5f%2e%7e");
    EXPECT_EQ(StringUtils::UrlEncode(u"\u00e9"), u"%c3%a9");
    EXPECT_EQ(StringUtils::UrlEncode(u"\u20ac"), u"%e2%82%ac");
    EXPECT_EQ(StringUtils::UrlEncode(std::u16string(1, u'\0')), u"%00");
    // Surrogate halves are encoded one by one.
    EXPECT_EQ(StringUtils::UrlEncode(u"\U0001F600"), u"%ed%a0%bd%ed%b8%80");
}

TEST(StringUtilsTest, Base64PadsTheLastGroup) {
    EXPECT_EQ(StringUtils::Base64Encode("abc", 3), "YWJj");
    EXPECT_EQ(StringUtils::Base64Encode("a", 1), "YQ==");
    EXPECT_EQ(StringUtils::Base64Encode("ab", 2), "YWI=");
    EXPECT_EQ(StringUtils::Base64Encode("\xff\xfe\xfd\x00", 4), "//79AA==");
    EXPECT_EQ(StringUtils::Base64Encode("abc", 0), "");
    EXPECT_EQ(StringUtils::Base64Encode("abc", -1), "");
}

TEST(StringUtilsTest, ReplaceAllRewritesUntilGoneAndAlwaysEnds) {
    std::string text = "aaa";
    EXPECT_EQ(StringUtils::ReplaceAll(text, "aa", "a"), "a");
    text = "a////b//";
    EXPECT_EQ(StringUtils::ReplaceAll(text, "//", "/"), "a/b/");
    std::u16string wide = u"C:\\dir\\file";
    EXPECT_EQ(StringUtils::ReplaceAll(wide, u"\\", u"/"), u"C:/dir/file");
    // Inputs that rewriting would never finish: empty pattern, replacement holding it.
    text = "abc";
    EXPECT_EQ(StringUtils::ReplaceAll(text, "", "x"), "abc");
    text = "a.b.";
    EXPECT_EQ(StringUtils::ReplaceAll(text, ".", ".."), "a..b..");
    wide = u"HTTP://h/http://";
    EXPECT_EQ(StringUtils::ReplaceAllNoCase(wide, u"http://", u""), u"h/");
}

TEST(StringUtilsTest, GetFileNameNeedsASeparator) {
    EXPECT_EQ(StringUtils::GetFileName("C:\\dir\\file.txt"), "file.txt");
    EXPECT_EQ(StringUtils::GetFileName(u"/a/b/c.bin"), u"c.bin");
    EXPECT_EQ(StringUtils::GetFileName("file.txt"), "");
    EXPECT_EQ(StringUtils::GetFileName("dir/"), "");
}

TEST(StringUtilsTest, SplitUrlTakesSchemeHostPortAndPath) {
    std::u16string host = u"unchanged";
    std::u16string path = u"unchanged";
    int port = 0;
    bool secure = false;
    StringUtils::SplitUrl(u"https://server.example/a/b/c.bin", host, path, port, secure);
    EXPECT_EQ(host, u"server.example");
    EXPECT_EQ(path, u"a/b/c.bin");
    EXPECT_EQ(port, 443);
    EXPECT_TRUE(secure);

    StringUtils::SplitUrl(u"HTTP://h:8080/x", host, path, port, secure);
    EXPECT_EQ(host, u"h");
    EXPECT_EQ(path, u"x");
    EXPECT_EQ(port, 8080);
    EXPECT_FALSE(secure);

    StringUtils::SplitUrl(u"http://h//p//q", host, path, port, secure);
    EXPECT_EQ(host, u"h");
    EXPECT_EQ(path, u"p/q");

    host = path = u"unchanged";
    StringUtils::SplitUrl(u"https://server.example", host, path, port, secure);
    EXPECT_EQ(host, u"unchanged");
    EXPECT_EQ(path, u"unchanged");
    EXPECT_EQ(port, 443);
    EXPECT_TRUE(secure);
}

TEST(StringUtilsTest, ConversionsRoundTripAndReplaceBadInput) {
    EXPECT_EQ(StringUtils::ToNarrow(u""), "");
    EXPECT_EQ(StringUtils::ToWide(""), u"");
    const std::u16string text = u"plain \u00e9\u20ac\U0001F600";
    EXPECT_EQ(StringUtils::ToWide(StringUtils::ToNarrow(text)), text);
    EXPECT_EQ(StringUtils::ToNarrow(std::u16string(1, char16_t(0xD800))), "?");
    EXPECT_EQ(StringUtils::ToWide("a\xff"
                                  "b"),
              u"a\uFFFDb");
    EXPECT_EQ(StringUtils::ToWide("\xc0\xaf"), u"\uFFFD\uFFFD") << "overlong forms are refused";
    EXPECT_EQ(StringUtils::ToWide("\xe2\x82"), u"\uFFFD\uFFFD") << "truncated sequence";
}

TEST(StringUtilsTest, HashSelectsTheAlgorithm) {
    EXPECT_EQ(Hex(StringUtils::Hash("abc", 3, HashAlgorithm::Sha1)),
              "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Hex(StringUtils::Hash("abc", 3, HashAlgorithm::Md5)),
              "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(StringUtils::Hash("abc", 3, HashAlgorithm::Sha256).Size(), 32u);
    EXPECT_TRUE(StringUtils::Hash("abc", 3, static_cast<HashAlgorithm>(7)).Empty());
}

}  // namespace
}  // namespace vesk
