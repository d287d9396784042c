// Mouse button state handed to the UI once per frame. A press is held for at least one
// frame, so a click whose press and release both arrive between two frames is still seen.
#pragma once

#include <array>

namespace vesk {

class MouseButtonLatch {
public:
    static constexpr int ButtonCount = 5;

    // Records a button event; buttons outside 0..4 are ignored.
    void OnEvent(int button, bool pressed) {
        if (button < 0 || button >= ButtonCount) {
            return;
        }
        physical_[button] = pressed;
        if (pressed) {
            latched_[button] = true;
        }
    }

    // Writes this frame's button states: down if down now or pressed since the last call.
    void Apply(bool (&down)[ButtonCount]) {
        for (int i = 0; i < ButtonCount; ++i) {
            down[i] = physical_[i] || latched_[i];
            latched_[i] = false;
        }
    }

private:
    std::array<bool, ButtonCount> physical_{};
    std::array<bool, ButtonCount> latched_{};
};

}  // namespace vesk
