// The UI fonts: six sizes, each with the text face and the merged icon glyphs the screens
// draw (minimise, exit, play, pause).
#include "Interface/FontLoader.h"

#include <gtest/gtest.h>
#include <imgui.h>

namespace vesk {
namespace {

TEST(FontLoaderTest, EverySizeHasTextAndTheIconGlyphs) {
    ImFontAtlas atlas;
    const auto fonts = AddInterfaceFonts(atlas);
    ASSERT_TRUE(atlas.Build());

    ASSERT_EQ(fonts.size(), 6u);
    const float sizes[] = {8, 12, 16, 24, 32, 64};
    for (int index = 0; index < 6; ++index) {
        SCOPED_TRACE("font " + std::to_string(index));
        ASSERT_EQ(fonts.count(index), 1u);
        const ImFont* font = fonts.at(index);
        ASSERT_NE(font, nullptr);
        EXPECT_EQ(font->FontSize, sizes[index]);
        for (ImWchar c : {ImWchar('A'), ImWchar('%'), ImWchar(0xE9)}) {
            EXPECT_NE(font->FindGlyphNoFallback(c), nullptr) << "U+" << std::hex << c;
        }
        for (ImWchar icon : {ImWchar(0xF00D), ImWchar(0xF2D1), ImWchar(0xF04B), ImWchar(0xF04C)}) {
            EXPECT_NE(font->FindGlyphNoFallback(icon), nullptr) << "U+" << std::hex << icon;
        }
    }
    EXPECT_EQ(fonts.count(6), 0u);

    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    atlas.GetTexDataAsRGBA32(&pixels, &width, &height);
    ASSERT_NE(pixels, nullptr);
    std::printf("font atlas: %d x %d\n", width, height);
}

}  // namespace
}  // namespace vesk
