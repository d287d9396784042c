#include "RequestFailedScreen.h"

#include <imgui.h>

#include "Interface/CoreUI.h"
#include "Interface/ExitButton.h"
#include "Interface/IApplicationWindow.h"
#include "Interface/ScreenStyle.h"
#include "Interface/TitleBar.h"

namespace vesk {

namespace {
constexpr const char* RequestFailedText =
    "Downloading setup failed. You are now directed to our Support Center for help.";
constexpr ImU32 MessageColour = IM_COL32(10, 10, 10, 255);
}  // namespace

bool RequestFailedScreen::Run(WindowDrag& drag) {
    fade_.Apply();
    bool keepRunning = Draw(drag);
    if (keepRunning) {
        keepRunning = !TitleBar::Draw(drag);
    }
    fade_.Advance();
    return keepRunning;
}

bool RequestFailedScreen::Draw(WindowDrag& drag) {
    IApplicationWindow* window = GetApplicationWindow();
    if (!CoreUI::Get()->IsInitialized() || window == nullptr) {
        return false;
    }
    const float W = static_cast<float>(window->GetWidth());
    const float H = static_cast<float>(window->GetHeight());
    ImGui::GetWindowDrawList()->AddRectFilled(ImVec2(0.0f, 0.0f), ImGui::GetWindowSize(),
                                              IM_COL32(100, 100, 100, 255));
    const ImVec2 size = MeasureText(3, 20.0f, RequestFailedText, W);
    DrawText(3, 20.0f, ImVec2(W / 2.0f - size.x / 2.0f, H / 2.0f - 1.0f), MessageColour,
             RequestFailedText, W);
    return !ExitButton::Draw(drag, W * 0.5f, ExitButton::Ink::White);
}

}  // namespace vesk
