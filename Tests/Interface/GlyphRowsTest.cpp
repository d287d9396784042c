// Text of a fractionally scaled frame moved onto pixel rows: whole glyphs move, by less than
// a pixel, without being stretched; shapes and pictures stay where the screens put them.
#include "Interface/GlyphRows.h"

#include <gtest/gtest.h>
#include <imgui.h>

#include <cmath>

#include "Interface/FontLoader.h"

namespace vesk {
namespace {

// One draw list with a glyph quad in the font atlas's command and a picture quad in a
// command of its own, as the UI leaves them.
class GlyphRowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        AddInterfaceFonts(atlas_);
        ASSERT_TRUE(atlas_.Build());
        shapes_ = ShapeAreaOf(atlas_);
    }

    // Appends a quad from (x0, y0) to (x1, y1) with texture coordinates uv0..uv1 in a new
    // command with `texture`.
    void AddQuad(ImTextureID texture, ImVec2 p0, ImVec2 p1, ImVec2 uv0, ImVec2 uv1) {
        ImDrawCmd cmd;
        cmd.TextureId = texture;
        cmd.VtxOffset = 0;
        cmd.IdxOffset = static_cast<unsigned int>(list_.IdxBuffer.Size);
        cmd.ElemCount = 6;
        const auto base = static_cast<ImDrawIdx>(list_.VtxBuffer.Size);
        list_.VtxBuffer.push_back(ImDrawVert{p0, uv0, IM_COL32_WHITE});
        list_.VtxBuffer.push_back(ImDrawVert{ImVec2(p1.x, p0.y), ImVec2(uv1.x, uv0.y), 0});
        list_.VtxBuffer.push_back(ImDrawVert{p1, uv1, IM_COL32_WHITE});
        list_.VtxBuffer.push_back(ImDrawVert{ImVec2(p0.x, p1.y), ImVec2(uv0.x, uv1.y), 0});
        for (int i : {0, 1, 2, 0, 2, 3}) {
            list_.IdxBuffer.push_back(static_cast<ImDrawIdx>(base + i));
        }
        list_.CmdBuffer.push_back(cmd);
    }

    ImDrawData Frame() {
        lists_[0] = &list_;
        ImDrawData data;
        data.Valid = true;
        data.CmdLists = lists_;
        data.CmdListsCount = 1;
        return data;
    }

    ImFontAtlas atlas_;
    AtlasShapeArea shapes_;
    // Only the buffers are used: nothing is drawn through the list's own calls.
    ImDrawList list_{nullptr};
    ImDrawList* lists_[1] = {};
};

TEST_F(GlyphRowsTest, GlyphsLandOnWholeRowsWithTheirHeightShapesAndPicturesStay) {
    struct Row {
        float scale;
        float top;  // units
    };
    // A glyph 16 units (= 16 x scale pixels) high, at tops that fall on every fraction.
    for (const Row row : {Row{1.25f, 319.0f}, Row{1.25f, 321.0f}, Row{1.5f, 319.0f},
                          Row{1.5f, 320.0f}, Row{1.75f, 369.0f}, Row{1.75f, 490.0f}}) {
        SCOPED_TRACE("scale " + std::to_string(row.scale) + ", top " + std::to_string(row.top));
        list_.CmdBuffer.clear();
        list_.IdxBuffer.clear();
        list_.VtxBuffer.clear();
        const float s = row.scale;
        // Glyph corners as the UI computes them: unit position plus atlas pixels / scale.
        const float glyphTop = row.top + 3.0f * (1.0f / s);
        const float glyphBottom = glyphTop + 16.0f * s * (1.0f / s);
        AddQuad(nullptr, ImVec2(10, glyphTop), ImVec2(20, glyphBottom), ImVec2(0.5f, 0.5f),
                ImVec2(0.52f, 0.55f));
        AddQuad(nullptr, ImVec2(0, row.top), ImVec2(50, row.top + 1.0f), shapes_.whitePixel,
                shapes_.whitePixel);
        static const std::string pictureId = "abcde";
        AddQuad(const_cast<std::string*>(&pictureId), ImVec2(0, row.top),
                ImVec2(40, row.top + 30.0f), ImVec2(0, 0), ImVec2(1, 1));
        ImDrawData data = Frame();

        SnapGlyphsToPixelRows(data, shapes_, s);
        const float top = list_.VtxBuffer[0].pos.y * s;
        const float bottom = list_.VtxBuffer[2].pos.y * s;
        EXPECT_NEAR(top, std::round(top), 1e-3f);
        EXPECT_NEAR(bottom - top, 16.0f * s, 1e-3f) << "the glyph was stretched";
        EXPECT_LE(std::fabs(top - glyphTop * s), 0.5f + 1.0f / 64.0f);
        EXPECT_EQ(list_.VtxBuffer[1].pos.y, list_.VtxBuffer[0].pos.y);
        EXPECT_EQ(list_.VtxBuffer[3].pos.y, list_.VtxBuffer[2].pos.y);
        for (int i = 4; i < 12; ++i) {
            const float expected =
                (i % 4 == 0 || i % 4 == 1) ? row.top : row.top + (i < 8 ? 1.0f : 30.0f);
            EXPECT_EQ(list_.VtxBuffer[i].pos.y, expected) << "vertex " << i << " moved";
        }

        // A second pass finds everything in place.
        const float once = list_.VtxBuffer[0].pos.y;
        SnapGlyphsToPixelRows(data, shapes_, s);
        EXPECT_EQ(list_.VtxBuffer[0].pos.y, once);
    }
}

}  // namespace
}  // namespace vesk
