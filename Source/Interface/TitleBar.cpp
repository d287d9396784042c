// The custom buttons (a rectangle registered with the UI under a fixed id, drawn by the
// screens themselves) and the title bar's minimise and exit glyphs.
#include <imgui.h>
#include <imgui_internal.h>

#include "Interface/CoreUI.h"
#include "Interface/DownloadManagerInterface.h"
#include "Interface/IApplicationWindow.h"
#include "Interface/ScreenStyle.h"

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

bool DownloadManagerInterface::CustomButton(const char* id, float x, float y, float width,
                                            float height, bool& hovered, bool& held) {
    const ImRect rect(x, y, x + width, y + height);
    const ImGuiID itemId = ImGui::GetID(id);
    ImGui::ItemAdd(rect, itemId);
    // The button behaviour makes the item active while pressed, so a press that leaves the
    // button still does not start a window drag.
    bool behaviourHovered = false;
    bool behaviourHeld = false;
    ImGui::ButtonBehavior(rect, itemId, &behaviourHovered, &behaviourHeld);
    hovered = ImGui::IsMouseHoveringRect(rect.Min, rect.Max, true);
    held = ImGui::IsMouseDown(ImGuiMouseButton_Left);
    if (ImGui::IsItemHovered() || ImGui::IsItemActive()) {
        widgetHovered_ = true;
    }
    // A drag that ends over the button does not press it.
    return hovered && ImGui::IsMouseReleased(ImGuiMouseButton_Left) && !movedThisFrame_;
}

bool DownloadManagerInterface::DrawTitleButtons() {
    if (!CoreUI::Get()->IsInitialized()) {
        return false;
    }
    const float width = ImGui::GetWindowWidth();
    bool hovered = false;
    bool held = false;

    const ImVec2 minimizeSize = MeasureText(3, 16.0f, MinimizeGlyph);
    const ImVec2 minimizeAt(width - minimizeSize.x - 32.0f, 10.0f);
    const bool minimize = CustomButton("MINIMIZE_BUTTON", minimizeAt.x, minimizeAt.y,
                                       minimizeSize.x, minimizeSize.y, hovered, held);
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
        CustomButton("EXIT_BUTTON", exitAt.x, exitAt.y, exitSize.x, exitSize.y, hovered, held);
    DrawText(3, 24.0f, exitAt, GlyphColour(hovered, held), ExitGlyph);
    return exit;
}

}  // namespace vesk
