// Startup screen: the compiled-in logo on a white window.
#include "StartupScreen.h"

#include <GLFW/glfw3.h>
#include <imgui.h>

#include <memory>

#include "Interface/IApplicationWindow.h"
#include "Interface/Logo.h"
#include "Interface/Texture.h"

namespace vesk {

namespace {
std::shared_ptr<Texture> logo;
}  // namespace

void SetupStartupScreen() {
    if (!logo) {
        logo =
            CreateTexture("logo", Embedded::LogoPixels, Embedded::LogoWidth, Embedded::LogoHeight);
    }
}

bool DrawStartupScreen(const IApplicationWindow& window) {
    const ImVec2 size(static_cast<float>(window.GetWidth()),
                      static_cast<float>(window.GetHeight()));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 0.0f);
    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f), ImGuiCond_Always, ImVec2(0.0f, 0.0f));
    ImGui::SetNextWindowSize(size, ImGuiCond_Always);
    ImGui::Begin("##main_window", nullptr,
                 ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse |
                     ImGuiWindowFlags_NoBringToFrontOnFocus);
    if (logo) {
        const ImVec2 logoSize(static_cast<float>(logo->GetWidth()),
                              static_cast<float>(logo->GetHeight()));
        const ImVec2 topLeft(static_cast<float>(static_cast<int>((size.x - logoSize.x) / 2)),
                             static_cast<float>(static_cast<int>((size.y - logoSize.y) / 2)));
        ImGui::GetWindowDrawList()->AddImage(
            logo->GetHandle(), topLeft, ImVec2(topLeft.x + logoSize.x, topLeft.y + logoSize.y));
    }
    ImGui::End();
    ImGui::PopStyleVar(3);
    return !ImGui::IsKeyPressed(GLFW_KEY_ESCAPE, false);
}

}  // namespace vesk
