// Button and key states handed to the UI once per frame. A press is held for at least one
// frame, so a click or key stroke whose press and release both arrive between two frames
// is still seen by the UI.
#pragma once

#include <array>
#include <cstddef>

namespace vesk {

template <std::size_t Count>
class InputLatch {
public:
    // Records a press or release; indexes outside 0..Count-1 are ignored.
    void OnEvent(int index, bool pressed) {
        if (index < 0 || static_cast<std::size_t>(index) >= Count) {
            return;
        }
        physical_[index] = pressed;
        if (pressed) {
            latched_[index] = true;
        }
    }

    // Writes this frame's states: down if down now or pressed since the last call.
    void Apply(bool (&down)[Count]) {
        for (std::size_t i = 0; i < Count; ++i) {
            down[i] = physical_[i] || latched_[i];
            latched_[i] = false;
        }
    }

private:
    std::array<bool, Count> physical_{};
    std::array<bool, Count> latched_{};
};

}  // namespace vesk
