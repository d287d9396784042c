#include "DownloadErrorScreen.h"

#include <imgui.h>

#include "Interface/CoreUI.h"
#include "Interface/ErrorScreenText.h"
#include "Interface/ExitButton.h"
#include "Interface/IApplicationWindow.h"
#include "Interface/ScreenStyle.h"
#include "Interface/Texture.h"
#include "Support/ErrorLog.h"

namespace vesk {

namespace {
constexpr ImU32 MessageColour = IM_COL32(10, 10, 10, 255);
}  // namespace

bool DownloadErrorScreen::Draw(const std::shared_ptr<Texture>& header, WindowDrag& drag) {
    IApplicationWindow* window = GetApplicationWindow();
    if (!CoreUI::Get()->IsInitialized() || window == nullptr) {
        return false;
    }
    const float W = static_cast<float>(window->GetWidth());
    ImDrawList* draw = ImGui::GetWindowDrawList();
    if (header) {
        draw->AddImage(header->GetHandle(), ImVec2(static_cast<float>(header->GetWidth()), 0.0f),
                       ImVec2(W, static_cast<float>(header->GetHeight())), ImVec2(0, 0),
                       ImVec2(1, 1), White());
    }
    const std::string& message = Text();
    if (!message.empty()) {
        const float wrap = W * 0.35f;
        const ImVec2 size = MeasureText(3, 20.0f, message.c_str(), wrap);
        DrawText(3, 20.0f, ImVec2(W * 0.75f - size.x / 2.0f, 369.0f), MessageColour,
                 message.c_str(), wrap);
    }
    // This screen's right half is white, so the button is drawn in the message's dark ink;
    // white on white would leave the only way out invisible.
    return !ExitButton::Draw(drag, W * 0.75f, ExitButton::Ink::Dark);
}

const std::string& DownloadErrorScreen::Text() {
    if (!textChosen_) {
        textChosen_ = true;
        text_ = DownloadErrorScreenText(GetUserMessage(), GetErrorMessages(),
                                        WasSetupStartedAfterErrors(GetLogEntries()));
    }
    return text_;
}

}  // namespace vesk
