// Colours and text drawing shared by the screens. Colours are RGBA bytes; a fade alpha
// 0..1 becomes the alpha byte by truncation. Text is measured and drawn with one of the
// UI fonts (by index) scaled to a pixel size, on the current window's draw list.
#pragma once

#include <imgui.h>

#include <algorithm>

namespace vesk {

inline int AlphaByte(float alpha) {
    return static_cast<int>(std::clamp(alpha, 0.0f, 1.0f) * 255.0f);
}
inline ImU32 DarkText(float alpha = 1.0f) {
    return IM_COL32(10, 10, 10, AlphaByte(alpha));
}
inline ImU32 White(float alpha = 1.0f) {
    return IM_COL32(255, 255, 255, AlphaByte(alpha));
}
inline ImU32 Accent(float alpha = 1.0f) {
    return IM_COL32(65, 117, 139, AlphaByte(alpha));
}
inline constexpr ImU32 AccentPressed = IM_COL32(77, 137, 164, 255);

// Size of `text` in font `fontIndex` at `size` px, wrapped at `wrapWidth` when above 0.
// Zero when the font does not exist.
ImVec2 MeasureText(int fontIndex, float size, const char* text, float wrapWidth = 0.0f);
// Draws `text` with its top-left at `position`; nothing when the font does not exist.
void DrawText(int fontIndex, float size, ImVec2 position, ImU32 colour, const char* text,
              float wrapWidth = 0.0f);

}  // namespace vesk
