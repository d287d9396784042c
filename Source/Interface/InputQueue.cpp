// InputQueue: which events may share a frame follows what the UI can tell apart in one.
#include "InputQueue.h"

#include <imgui.h>

#include <bitset>

namespace vesk {

void InputQueue::OnPosition(float x, float y) {
    // Moves in a row collapse into the last one: only where the pointer ended matters.
    if (!events_.empty() && events_.back().kind == Kind::Position) {
        events_.back().x = x;
        events_.back().y = y;
        return;
    }
    events_.push_back({Kind::Position, false, 0, x, y});
}

void InputQueue::OnButton(int button, bool pressed) {
    if (button >= 0 && button < ButtonCount) {
        events_.push_back({Kind::Button, pressed, button, 0.0f, 0.0f});
    }
}

void InputQueue::OnKey(int key, bool pressed) {
    if (key >= 0 && key < KeyCount) {
        events_.push_back({Kind::Key, pressed, key, 0.0f, 0.0f});
    }
}

void InputQueue::OnWheel(float horizontal, float vertical) {
    events_.push_back({Kind::Wheel, false, 0, horizontal, vertical});
}

void InputQueue::OnCharacter(unsigned int codePoint) {
    // The UI takes 16-bit code points; zero is not a character.
    if (codePoint > 0 && codePoint < 0x10000) {
        events_.push_back({Kind::Character, false, static_cast<int>(codePoint), 0.0f, 0.0f});
    }
}

void InputQueue::Apply(ImGuiIO& io) {
    const bool flooded = events_.size() > MostPending;
    std::bitset<ButtonCount> buttonsChanged;
    std::bitset<KeyCount> keysChanged;
    bool moved = false;
    bool wheeled = false;
    bool typed = false;
    while (!events_.empty()) {
        const Event& event = events_.front();
        bool later = false;
        switch (event.kind) {
            case Kind::Position:
                // A move after a press would carry the press away from where it happened.
                later = buttonsChanged.any() || keysChanged.any() || wheeled || typed;
                if (!later) {
                    io.MousePos = ImVec2(event.x, event.y);
                    moved = true;
                }
                break;
            case Kind::Button:
                later = buttonsChanged[event.index] || wheeled;
                if (!later) {
                    buttonsChanged[event.index] = io.MouseDown[event.index] != event.pressed;
                    io.MouseDown[event.index] = event.pressed;
                }
                break;
            case Kind::Key:
                later = keysChanged[event.index] || buttonsChanged.any() || typed;
                if (!later) {
                    keysChanged[event.index] = io.KeysDown[event.index] != event.pressed;
                    io.KeysDown[event.index] = event.pressed;
                }
                break;
            case Kind::Wheel:
                later = moved || buttonsChanged.any();
                if (!later) {
                    io.MouseWheelH += event.x;
                    io.MouseWheel += event.y;
                    wheeled = true;
                }
                break;
            case Kind::Character:
                later = keysChanged.any() || buttonsChanged.any() || moved || wheeled;
                if (!later) {
                    io.AddInputCharacter(static_cast<unsigned int>(event.index));
                    typed = true;
                }
                break;
        }
        if (later && !flooded) {
            return;
        }
        if (later) {
            // Flooded: the event is applied anyway, the frame seeing only the end state.
            buttonsChanged.reset();
            keysChanged.reset();
            moved = wheeled = typed = false;
            continue;
        }
        events_.pop_front();
    }
}

}  // namespace vesk
