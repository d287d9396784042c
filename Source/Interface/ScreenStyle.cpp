// Text measuring and drawing of the screens.
#include "ScreenStyle.h"

#include <cfloat>

#include "Interface/CoreUI.h"

namespace vesk {

ImVec2 MeasureText(int fontIndex, float size, const char* text, float wrapWidth) {
    const ImFont* font = CoreUI::Get()->GetFont(fontIndex);
    if (font == nullptr || text == nullptr) {
        return ImVec2(0.0f, 0.0f);
    }
    return font->CalcTextSizeA(size, FLT_MAX, wrapWidth, text);
}

void DrawText(int fontIndex, float size, ImVec2 position, ImU32 colour, const char* text,
              float wrapWidth) {
    ImFont* font = CoreUI::Get()->GetFont(fontIndex);
    if (font == nullptr || text == nullptr) {
        return;
    }
    ImGui::GetWindowDrawList()->AddText(font, size, position, colour, text, nullptr, wrapWidth);
}

}  // namespace vesk
