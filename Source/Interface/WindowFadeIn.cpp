#include "WindowFadeIn.h"

#include <algorithm>

#include "Interface/IApplicationWindow.h"

namespace vesk {

void WindowFadeIn::Apply() {
    IApplicationWindow* window = GetApplicationWindow();
    if (fade_ == 0.0f) {
        fadesWindow_ = window->GetOpacity() != 1.0f;
    }
    // Once faded in, the opacity is left alone: every change is a round trip to the display.
    if (fadesWindow_ && fade_ < 1.0f) {
        window->SetOpacity(fade_);
    } else if (fadesWindow_) {
        window->SetOpacity(1.0f);
        fadesWindow_ = false;
    }
}

void WindowFadeIn::Advance() {
    fade_ = std::min(fade_ + 0.01f, 1.0f);
}

}  // namespace vesk
