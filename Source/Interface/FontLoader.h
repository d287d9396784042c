// The six UI fonts (8, 12, 16, 24, 32 and 64 px), each the text face with the icon face
// merged in, added to a font atlas from the faces compiled into the program.
#pragma once

#include <map>

struct ImFont;
struct ImFontAtlas;

namespace vesk {

// Icon code points merged into every font; labels write icons as these code points.
inline constexpr unsigned IconFirstCodePoint = 0xE005;
inline constexpr unsigned IconLastCodePoint = 0xF8FF;

// Font index -> pixel size of the UI fonts.
inline constexpr float FontSizes[] = {8.0f, 12.0f, 16.0f, 24.0f, 32.0f, 64.0f};
inline constexpr int DefaultFontIndex = 2;

// Adds the fonts to `atlas` (which must outlive nothing it borrows: the face bytes are the
// program's own and stay owned by it) and returns them by index. Does not build the atlas.
std::map<int, ImFont*> AddInterfaceFonts(ImFontAtlas& atlas);

}  // namespace vesk
