// The two screens that end an unsuccessful run: the download error screen (over the left
// panel, with the user message or the reason the log gives) and the grey request-failed
// screen. Each has one Exit
// button; its click makes the controller post the log report and end the program.
#include <imgui.h>

#include <string>

#include "Interface/CoreUI.h"
#include "Interface/DownloadManagerInterface.h"
#include "Interface/ErrorScreenText.h"
#include "Interface/IApplicationWindow.h"
#include "Interface/ScreenStyle.h"
#include "Interface/Texture.h"
#include "Support/ErrorLog.h"

namespace vesk {

namespace {
constexpr const char* RequestFailedText =
    "Downloading setup failed. You are now directed to our Support Center for help.";
constexpr ImU32 MessageColour = IM_COL32(10, 10, 10, 255);
}  // namespace

bool DownloadManagerInterface::DrawDownloadErrorScreen() {
    IApplicationWindow* window = GetApplicationWindow();
    if (!CoreUI::Get()->IsInitialized() || window == nullptr) {
        return false;
    }
    const float W = static_cast<float>(window->GetWidth());
    ImDrawList* draw = ImGui::GetWindowDrawList();
    if (const auto header = GetCoreTexture("logo_background")) {
        draw->AddImage(header->GetHandle(), ImVec2(static_cast<float>(header->GetWidth()), 0.0f),
                       ImVec2(W, static_cast<float>(header->GetHeight())), ImVec2(0, 0),
                       ImVec2(1, 1), White());
    }
    const std::string& message = ErrorScreenText();
    if (!message.empty()) {
        const float wrap = W * 0.35f;
        const ImVec2 size = MeasureText(3, 20.0f, message.c_str(), wrap);
        DrawText(3, 20.0f, ImVec2(W * 0.75f - size.x / 2.0f, 369.0f), MessageColour,
                 message.c_str(), wrap);
    }
    // This screen's right half is white, so the button is drawn in the message's dark ink;
    // white on white would leave the only way out invisible.
    return !DrawExitButton(W * 0.75f, ExitInk::Dark);
}

const std::string& DownloadManagerInterface::ErrorScreenText() {
    // Chosen once: the download has ended, and the log only grows by what the report adds.
    if (!errorScreenTextChosen_) {
        errorScreenTextChosen_ = true;
        errorScreenText_ = DownloadErrorScreenText(GetUserMessage(), GetErrorMessages(),
                                                   WasSetupStartedAfterErrors(GetLogEntries()));
    }
    return errorScreenText_;
}

bool DownloadManagerInterface::DrawRequestFailedScreen() {
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
    return !DrawExitButton(W * 0.5f, ExitInk::White);
}

bool DownloadManagerInterface::DrawExitButton(float cx, ExitInk ink) {
    const ImVec2 topLeft(cx - 80.0f, 500.0f);
    const ImVec2 size(160.0f, 38.0f);
    bool hovered = false;
    bool held = false;
    const bool clicked =
        CustomButton("ERROR_EXIT_BUTTON", topLeft.x, topLeft.y, size.x, size.y, hovered, held);
    const float alpha = hovered && held ? 176.0f / 255.0f : 1.0f;
    const ImU32 colour = ink == ExitInk::Dark ? DarkText(alpha) : White(alpha);
    ImDrawList* draw = ImGui::GetWindowDrawList();
    const ImVec2 bottomRight(topLeft.x + size.x, topLeft.y + size.y);
    if (hovered) {
        draw->AddRectFilled(
            topLeft, bottomRight,
            ink == ExitInk::Dark ? DarkText(40.0f / 255.0f) : White(40.0f / 255.0f));
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
