// Colour scheme values.
#include "CoreUIStyle.h"

#include <imgui.h>

namespace vesk {

void ApplyColourScheme(ImGuiStyle& style) {
    ImGui::StyleColorsDark(&style);
    ImVec4* colors = style.Colors;
    // Tabs as fixed values rather than blends, so they read the same with every preset.
    colors[ImGuiCol_Tab] = ImVec4(0.18f, 0.35f, 0.58f, 0.86f);
    colors[ImGuiCol_TabHovered] = ImVec4(0.26f, 0.59f, 0.98f, 0.80f);
    colors[ImGuiCol_TabActive] = ImVec4(0.20f, 0.41f, 0.68f, 1.00f);
    colors[ImGuiCol_TabUnfocused] = ImVec4(0.07f, 0.10f, 0.15f, 0.97f);
    colors[ImGuiCol_TabUnfocusedActive] = ImVec4(0.14f, 0.26f, 0.42f, 1.00f);

    colors[ImGuiCol_Text] = ImVec4(0.98f, 0.98f, 0.98f, 1.00f);
    colors[ImGuiCol_WindowBg] = ImVec4(1.00f, 1.00f, 1.00f, 1.00f);
    colors[ImGuiCol_FrameBg] = ImVec4(1.00f, 1.00f, 1.00f, 0.50f);
    colors[ImGuiCol_Button] = ImVec4(0.25f, 0.46f, 0.55f, 1.00f);
    colors[ImGuiCol_ButtonHovered] = ImVec4(0.31f, 0.55f, 0.65f, 1.00f);
    colors[ImGuiCol_ButtonActive] = ImVec4(0.22f, 0.40f, 0.47f, 1.00f);
}

}  // namespace vesk
