// The six UI fonts (8, 12, 16, 24, 32 and 64 px), each the text face with the icon face
// merged in, added to a font atlas from the faces compiled into the program.
#pragma once

#include <map>

struct ImFont;
struct ImFontAtlas;

namespace vesk {

// The icon glyphs the screens draw, merged into every font. Only these are merged: the whole
// icon range at six sizes would need a 4096 x 4096 atlas.
inline constexpr unsigned IconTimes = 0xF00D;           // exit
inline constexpr unsigned IconPlay = 0xF04B;            // resume
inline constexpr unsigned IconPause = 0xF04C;           // pause
inline constexpr unsigned IconWindowMinimize = 0xF2D1;  // minimise

// Font index -> pixel size of the UI fonts.
inline constexpr float FontSizes[] = {8.0f, 12.0f, 16.0f, 24.0f, 32.0f, 64.0f};
inline constexpr int DefaultFontIndex = 2;

// Adds the fonts to `atlas` (which must outlive nothing it borrows: the face bytes are the
// program's own and stay owned by it) and returns them by index. Does not build the atlas.
// At a display scale above 1 the glyphs are rasterised at FontSizes x scale pixels and each
// font is scaled back by 1 / scale, so the screens keep measuring in layout units while the
// framebuffer's scale turns those into sharp pixels.
std::map<int, ImFont*> AddInterfaceFonts(ImFontAtlas& atlas, float scale = 1.0f);

}  // namespace vesk
