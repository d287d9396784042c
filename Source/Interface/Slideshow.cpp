// The slideshow's timing, and the left panel: slideshow and tagline.
#include "Slideshow.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>

#include "Interface/CoreUI.h"
#include "Interface/IApplicationWindow.h"
#include "Interface/ScreenStyle.h"
#include "Interface/Texture.h"
#include "Support/FrameTimer.h"

namespace vesk {

namespace {
constexpr const char* Tagline = "Build without limits";
constexpr float PanelWidth = 601.0f;
constexpr float PanelHeight = 640.0f;
}  // namespace

void Slideshow::Advance(float delta, std::size_t count) {
    if (count < 2) {
        return;
    }
    crossfade_ =
        direction_ == 1 ? std::min(crossfade_ + delta, 1.0f) : std::max(crossfade_ - delta, 0.0f);
    countdown_ -= delta;
    if (countdown_ < 0.0f) {
        countdown_ = SlidePeriod;
        const int next =
            static_cast<std::size_t>(currentSlide_ + 1) < count ? currentSlide_ + 1 : 0;
        direction_ = -direction_;
        if (direction_ == 1) {
            slotA_ = currentSlide_;
            slotB_ = next;
        } else {
            slotA_ = next;
            slotB_ = currentSlide_;
        }
        currentSlide_ = next;
    }
}

float Slideshow::Ease() const {
    return 0.5f * (1.0f + std::sin(3.1415926f * (crossfade_ - 0.5f)));
}

void Slideshow::Draw(const std::vector<std::shared_ptr<Texture>>& media, bool showTagline,
                     float alpha) {
    if (!CoreUI::Get()->IsInitialized()) {
        return;
    }
    ImDrawList* draw = ImGui::GetWindowDrawList();
    if (media.size() > 1) {
        Advance(FrameTimer::Get().GetDeltaSeconds(), media.size());
        const float e = Ease();
        const auto slot = [&media](int index) {
            return media[static_cast<std::size_t>(index) % media.size()];
        };
        const ImVec2 min(0.0f, 0.0f);
        const ImVec2 max(PanelWidth, PanelHeight);
        draw->AddImage(slot(SlotA())->GetHandle(), min, max, ImVec2(0, 0), ImVec2(1, 1),
                       White(1.0f - e));
        draw->AddImage(slot(SlotB())->GetHandle(), min, max, ImVec2(0, 0), ImVec2(1, 1), White(e));
    }
    if (showTagline) {
        IApplicationWindow* window = GetApplicationWindow();
        if (window == nullptr) {
            return;
        }
        const ImVec2 size = MeasureText(5, 40.0f, Tagline);
        const ImVec2 p(static_cast<float>(window->GetWidth()) * 0.25f - size.x * 0.5f,
                       static_cast<float>(window->GetHeight()) * 0.5f);
        DrawText(5, 40.0f, p, White(alpha), Tagline);
        const float h = size.y;
        draw->AddRect(ImVec2(p.x - h / 2, p.y - h / 2),
                      ImVec2(p.x + size.x + h / 2, p.y + h + h / 2), White(0.8f * alpha), 0.0f, 0,
                      1.0f);
    }
}

}  // namespace vesk
