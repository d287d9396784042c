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

// On a scaled display the glyphs are rasterised at the scaled size, while every font still
// measures its unit size: a line of 16-unit text must stay 16 units high.
TEST(FontLoaderTest, ScaledFontsAreRasterisedLargerAndMeasureTheirUnitSize) {
    const float sizes[] = {8, 12, 16, 24, 32, 64};
    for (float scale : {1.25f, 1.5f, 1.75f, 2.0f, 3.0f}) {
        SCOPED_TRACE("scale " + std::to_string(scale));
        ImFontAtlas atlas;
        const auto fonts = AddInterfaceFonts(atlas, scale);
        ASSERT_TRUE(atlas.Build());
        ASSERT_EQ(fonts.size(), 6u);
        for (int index = 0; index < 6; ++index) {
            const ImFont* font = fonts.at(index);
            EXPECT_EQ(font->FontSize, sizes[index] * scale) << "font " << index;
            // Never short of it: 11.999999 would put each line of text a unit higher.
            EXPECT_GE(font->FontSize * font->Scale, sizes[index]) << "font " << index;
            EXPECT_NEAR(font->FontSize * font->Scale, sizes[index], 1e-5f) << "font " << index;
            // A glyph measured at the unit size has the unscaled glyph's width, give or take
            // the hinting of the larger rasterisation.
            ImFontAtlas unscaledAtlas;
            const auto unscaled = AddInterfaceFonts(unscaledAtlas);
            ASSERT_TRUE(unscaledAtlas.Build());
            const float width = font->CalcTextSizeA(sizes[index], 1e9f, 0.0f, "Downloading").x;
            const float unscaledWidth =
                unscaled.at(index)->CalcTextSizeA(sizes[index], 1e9f, 0.0f, "Downloading").x;
            EXPECT_NEAR(width, unscaledWidth, unscaledWidth * 0.05f) << "font " << index;
        }
    }
}

}  // namespace
}  // namespace vesk
