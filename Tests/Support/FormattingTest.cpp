// Formatting helpers: byte sizes at the unit edges, URL parsing, SplitView's rules,
// random identifiers and UTF-8 conversion.
#include "Support/Formatting.h"

#include <gtest/gtest.h>

namespace vesk {
namespace {

TEST(FormattingTest, FormatByteSizeAtUnitEdges) {
    EXPECT_EQ(FormatByteSize(0), "0 B");
    EXPECT_EQ(FormatByteSize(1023), "1023 B");
    EXPECT_EQ(FormatByteSize(1024), "1.00 kB");
    EXPECT_EQ(FormatByteSize(1536), "1.50 kB");
    EXPECT_EQ(FormatByteSize(1048575), "1024.00 kB");
    EXPECT_EQ(FormatByteSize(1048576), "1.00 MB");
    EXPECT_EQ(FormatByteSize(1073741823), "1024.00 MB");
    EXPECT_EQ(FormatByteSize(5368709120ull), "5.00 GB");
    EXPECT_EQ(FormatByteSize(~0ull), "17179869184.00 GB");
}

void ExpectParts(const UrlParts& parts, std::u16string_view protocol, std::u16string_view host,
                 std::u16string_view port, std::u16string_view path, std::u16string_view query) {
    EXPECT_EQ(parts.protocol, protocol);
    EXPECT_EQ(parts.host, host);
    EXPECT_EQ(parts.port, port);
    EXPECT_EQ(parts.path, path);
    EXPECT_EQ(parts.query, query);
}

TEST(FormattingTest, ParseUrlSplitsEveryPart) {
    ExpectParts(ParseUrl(u"https://h:8080/dir/file.json?v=1"), u"https", u"h", u"8080",
                u"/dir/file.json", u"?v=1");
    ExpectParts(ParseUrl(u"h:443/a"), u"", u"h", u"443", u"/a", u"");
    ExpectParts(ParseUrl(u"x://"), u"", u"x", u"", u"//", u"");
    ExpectParts(ParseUrl(u"https://host?q"), u"https", u"host", u"", u"", u"?q");
    ExpectParts(ParseUrl(u"https://host:99?q"), u"https", u"host", u"99", u"", u"?q");
    ExpectParts(ParseUrl(u""), u"", u"", u"", u"", u"");
    ExpectParts(ParseUrl(u"h?a/b"), u"", u"h?a", u"", u"", u"?a/b");
}

TEST(FormattingTest, SplitViewRules) {
    using List = std::vector<std::string>;
    EXPECT_EQ(SplitView("a_b_c", "_"), (List{"a", "b", "c"}));
    EXPECT_EQ(SplitView("abc", "_"), List{"abc"});
    EXPECT_EQ(SplitView("a__b_", "_"), (List{"a", "b", ""}));
    EXPECT_EQ(SplitView("__x", "_"), List{"__x"});
    EXPECT_EQ(SplitView("", "_"), List{});
    EXPECT_EQ(SplitView("a::b", "::"), (List{"a", "b"}));
    EXPECT_EQ(SplitView("abc", ""), List{"abc"}) << "an empty delimiter must not loop";
}

TEST(FormattingTest, RandomStringUsesOnlyTheAlphabet) {
    const std::string alphabet = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";
    const std::string id = RandomString(5, alphabet);
    ASSERT_EQ(id.size(), 5u);
    EXPECT_EQ(id.find_first_not_of(alphabet), std::string::npos);
    EXPECT_EQ(RandomString(3, "z"), "zzz");
    EXPECT_EQ(RandomString(0, alphabet), "");
    EXPECT_EQ(RandomString(4, ""), "");
}

}  // namespace
}  // namespace vesk
