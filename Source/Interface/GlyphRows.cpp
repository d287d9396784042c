// Glyph row snapping for fractionally scaled frames.
#include "GlyphRows.h"

#include <cmath>

namespace vesk {

namespace {

bool IsShapeVertex(const ImVec2& uv, const AtlasShapeArea& shapes) {
    if (uv.x == shapes.whitePixel.x && uv.y == shapes.whitePixel.y) {
        return true;
    }
    return uv.x >= shapes.linesMin.x && uv.x <= shapes.linesMax.x && uv.y >= shapes.linesMin.y &&
           uv.y <= shapes.linesMax.y;
}

// A glyph's top and bottom lie the same fraction of a pixel off a row, give or take the
// float error; the bias rounds a fraction of one half the same way for both, so no glyph
// is stretched by a row.
constexpr float HalfPixelBias = 1.0f / 64.0f;

}  // namespace

AtlasShapeArea ShapeAreaOf(ImFontAtlas& atlas) {
    AtlasShapeArea area{atlas.TexUvWhitePixel, ImVec2(1.0f, 1.0f), ImVec2(0.0f, 0.0f)};
    if (atlas.PackIdLines >= 0 && atlas.PackIdLines < atlas.CustomRects.Size) {
        atlas.CalcCustomRectUV(atlas.GetCustomRectByIndex(atlas.PackIdLines), &area.linesMin,
                               &area.linesMax);
    }
    return area;
}

void SnapGlyphsToPixelRows(ImDrawData& data, const AtlasShapeArea& shapes, float pixelsPerUnit) {
    if (!(pixelsPerUnit > 0.0f)) {
        return;
    }
    for (int n = 0; n < data.CmdListsCount; ++n) {
        ImDrawList* list = data.CmdLists[n];
        for (const ImDrawCmd& cmd : list->CmdBuffer) {
            if (cmd.UserCallback != nullptr || cmd.GetTexID() != nullptr) {
                continue;
            }
            for (unsigned int i = 0; i < cmd.ElemCount; ++i) {
                const unsigned int at = cmd.VtxOffset + list->IdxBuffer[cmd.IdxOffset + i];
                ImDrawVert& vertex = list->VtxBuffer[static_cast<int>(at)];
                if (IsShapeVertex(vertex.uv, shapes)) {
                    continue;
                }
                const float row = std::floor(vertex.pos.y * pixelsPerUnit + 0.5f + HalfPixelBias);
                vertex.pos.y = row / pixelsPerUnit;
            }
        }
    }
}

}  // namespace vesk
