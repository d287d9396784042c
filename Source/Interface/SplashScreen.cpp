#include "SplashScreen.h"

#include <imgui.h>

#include <algorithm>

#include "Interface/IApplicationWindow.h"
#include "Interface/Logo.h"
#include "Interface/ScreenStyle.h"
#include "Interface/Texture.h"

namespace vesk {

void SplashScreen::LoadLogo() {
    logo_ = CreateTexture("logo", Embedded::LogoPixels, Embedded::LogoWidth, Embedded::LogoHeight);
}

void SplashScreen::Draw() const {
    IApplicationWindow* window = GetApplicationWindow();
    if (window == nullptr || !logo_) {
        return;
    }
    window->SetOpacity(std::min(timer_, 1.0f));
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
