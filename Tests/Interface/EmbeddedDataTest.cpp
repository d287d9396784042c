// The data compiled into the program: the font faces are the installed files byte for
// byte, and the logo is a full 198 x 251 RGBA picture.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "Interface/Fonts.h"
#include "Interface/Logo.h"

namespace vesk {
namespace {

std::vector<unsigned char> ReadFile(const char* path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

TEST(EmbeddedDataTest, FontFacesAreTheInstalledFilesByteForByte) {
    const auto text = ReadFile(SORVAN_TEXT_FONT_FILE);
    const auto icons = ReadFile(SORVAN_ICON_FONT_FILE);
    ASSERT_FALSE(text.empty()) << SORVAN_TEXT_FONT_FILE;
    ASSERT_FALSE(icons.empty()) << SORVAN_ICON_FONT_FILE;

    ASSERT_EQ(Embedded::RobotoLightSize, text.size());
    ASSERT_EQ(Embedded::IconFontSize, icons.size());
    EXPECT_EQ(std::memcmp(Embedded::RobotoLight, text.data(), text.size()), 0);
    EXPECT_EQ(std::memcmp(Embedded::IconFont, icons.data(), icons.size()), 0);
}

TEST(EmbeddedDataTest, LogoIsAnOpaquePictureOfTheRightSize) {
    EXPECT_EQ(sizeof(Embedded::LogoPixels), 198u * 251u * 4u);
    EXPECT_EQ(Embedded::LogoByteCount, sizeof(Embedded::LogoPixels));

    bool opaque = true;
    bool hasWhite = false;
    bool hasPanel = false;
    for (std::size_t i = 0; i < Embedded::LogoByteCount; i += 4) {
        const unsigned char* p = &Embedded::LogoPixels[i];
        opaque = opaque && p[3] == 255;
        hasWhite = hasWhite || (p[0] == 255 && p[1] == 255 && p[2] == 255);
        hasPanel = hasPanel || (p[2] > p[0] + 40);
    }
    EXPECT_TRUE(opaque);
    EXPECT_TRUE(hasWhite) << "the mark is missing";
    EXPECT_TRUE(hasPanel) << "the panel is missing";
}

}  // namespace
}  // namespace vesk
