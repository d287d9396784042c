// The splash: the compiled-in logo on white, the window shrunk to the logo and fading in.
#include "SplashScreen.h"

#include <imgui.h>

#include <algorithm>

#include "Interface/DownloadManagerInterface.h"
#include "Interface/IApplicationWindow.h"
#include "Interface/ScreenStyle.h"
#include "Interface/Texture.h"

namespace vesk {

void DownloadManagerInterface::DrawSplash(float fade) {
    IApplicationWindow* window = GetApplicationWindow();
    if (window == nullptr || !logo_) {
        return;
    }
    window->SetOpacity(std::min(fade, 1.0f));
    window->SetSize(logo_->GetWidth(), logo_->GetHeight());
    window->Center();
    const ImVec2 size(static_cast<float>(logo_->GetWidth()),
                      static_cast<float>(logo_->GetHeight()));
    ImDrawList* draw = ImGui::GetWindowDrawList();
    draw->AddRectFilled(ImVec2(0.0f, 0.0f), size, White());
    draw->AddImage(logo_->GetHandle(), ImVec2(0.0f, 0.0f), size, ImVec2(0, 0), ImVec2(1, 1),
                   White());
}

}  // namespace vesk
