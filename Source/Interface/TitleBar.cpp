#include "TitleBar.h"

#include <imgui.h>

#include "Interface/CoreUI.h"
#include "Interface/IApplicationWindow.h"
#include "Interface/ScreenStyle.h"
#include "Interface/WindowDrag.h"

namespace vesk {

namespace {
constexpr const char* MinimizeGlyph = "\xef\x8b\x91";  // U+F2D1
constexpr const char* ExitGlyph = "\xef\x80\x8d";      // U+F00D

ImU32 GlyphColour(bool hovered, bool held) {
    if (hovered && held) {
        return AccentPressed;
    }
    return hovered ? Accent() : DarkText();
}
}  // namespace

bool TitleBar::Draw(WindowDrag& drag) {
    if (!CoreUI::Get()->IsInitialized()) {
        return false;
    }
    const float width = ImGui::GetWindowWidth();
    bool hovered = false;
    bool held = false;

    const ImVec2 minimizeSize = MeasureText(3, 16.0f, MinimizeGlyph);
    const ImVec2 minimizeAt(width - minimizeSize.x - 32.0f, 10.0f);
    const bool minimize = drag.Button("MINIMIZE_BUTTON", minimizeAt.x, minimizeAt.y, minimizeSize.x,
                                      minimizeSize.y, hovered, held);
    DrawText(3, 16.0f, minimizeAt, GlyphColour(hovered, held), MinimizeGlyph);
    if (minimize) {
        if (IApplicationWindow* window = GetApplicationWindow()) {
            window->Minimize();
        }
        return false;
    }

    const ImVec2 exitSize = MeasureText(3, 24.0f, ExitGlyph);
    const ImVec2 exitAt(width - exitSize.x - 8.0f, 6.0f);
    const bool exit =
        drag.Button("EXIT_BUTTON", exitAt.x, exitAt.y, exitSize.x, exitSize.y, hovered, held);
    DrawText(3, 24.0f, exitAt, GlyphColour(hovered, held), ExitGlyph);
    return exit;
}

}  // namespace vesk
