// A screen's fade-in: its alpha grows by 0.01 a frame, and the window, when it starts out
// transparent, fades in with it.
#pragma once

namespace vesk {

class WindowFadeIn {
public:
    // Before the frame's drawing: sets the window's opacity while it fades.
    void Apply();
    // After the frame's drawing.
    void Advance();
    float Alpha() const { return fade_; }

private:
    float fade_ = 0.0f;
    bool fadesWindow_ = false;
};

}  // namespace vesk
