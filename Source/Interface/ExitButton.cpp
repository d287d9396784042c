#include "ExitButton.h"

#include <imgui.h>

#include "Interface/ScreenStyle.h"
#include "Interface/WindowDrag.h"

namespace vesk {

bool ExitButton::Draw(WindowDrag& drag, float cx, Ink ink) {
    const ImVec2 topLeft(cx - 80.0f, 500.0f);
    const ImVec2 size(160.0f, 38.0f);
    bool hovered = false;
    bool held = false;
    const bool clicked =
        drag.Button("ERROR_EXIT_BUTTON", topLeft.x, topLeft.y, size.x, size.y, hovered, held);
    const float alpha = hovered && held ? 176.0f / 255.0f : 1.0f;
    const ImU32 colour = ink == Ink::Dark ? DarkText(alpha) : White(alpha);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 bottomRight(topLeft.x + size.x, topLeft.y + size.y);
    if (hovered) {
        draw->AddRectFilled(topLeft, bottomRight,
                            ink == Ink::Dark ? DarkText(40.0f / 255.0f) : White(40.0f / 255.0f));
        ImGui::SetMouseCursor(ImGuiMouseCursor_Hand);
    }
    draw->AddRect(topLeft, bottomRight, colour, 0.0f, 0, 1.0f);
    const ImVec2 label = MeasureText(4, 20.0f, "Exit");
    DrawText(4, 20.0f,
             ImVec2(topLeft.x + 80.0f - label.x / 2.0f, topLeft.y + label.y / 2.0f - 1.0f), colour,
             "Exit");
    return clicked;
}

}  // namespace vesk
