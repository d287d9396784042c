// Text on whole pixel rows at a fractional display scale. The UI places text at whole layout
// units, which at 125% or 150% fall between pixel rows; drawn there, every horizontal stroke
// is smeared over two rows. Moving each glyph to the nearest row keeps the text as sharp as
// at 100% or 200%, at the cost of at most half a pixel of place.
#pragma once

#include <imgui.h>

namespace vesk {

// The rectangle of the atlas's texture coordinates that are not glyphs: the white pixel
// that fills shapes and the baked anti-aliased lines.
struct AtlasShapeArea {
    ImVec2 whitePixel;
    ImVec2 linesMin;
    ImVec2 linesMax;
};
AtlasShapeArea ShapeAreaOf(ImFontAtlas& atlas);

// Moves the glyph vertices of the font atlas's draw commands (null texture handle) of
// `data` to whole rows of a framebuffer `pixelsPerUnit` pixels per unit high. Shapes and
// pictures are left where they are. Applying it twice changes nothing more.
void SnapGlyphsToPixelRows(ImDrawData& data, const AtlasShapeArea& shapes, float pixelsPerUnit);

}  // namespace vesk
