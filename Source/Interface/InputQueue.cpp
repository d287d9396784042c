// InputQueue: which events may share a frame follows what the UI can tell apart in one.
#include "InputQueue.h"

#include <imgui.h>

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
    // Flooded, the queue is handed over whole: the frame sees only the end state.
    const bool flooded = events_.size() > MostPending;
    FrameChanges changes;
    while (!events_.empty()) {
        if (!flooded && MustWait(events_.front(), changes)) {
            return;
        }
        ApplyEvent(events_.front(), io, changes);
        events_.pop_front();
    }
}

bool InputQueue::MustWait(const Event& event, const FrameChanges& changes) {
    const bool clicked = changes.buttons.any();
    switch (event.kind) {
        case Kind::Position:
            // A move after a press would carry the press away from where it happened.
            return clicked || changes.keys.any() || changes.wheeled || changes.typed;
        case Kind::Button:
            return changes.buttons[event.index] || changes.wheeled;
        case Kind::Key:
            return changes.keys[event.index] || clicked || changes.typed;
        case Kind::Wheel:
            return changes.moved || clicked;
        case Kind::Character:
            return changes.keys.any() || clicked || changes.moved || changes.wheeled;
    }
    return false;
}

void InputQueue::ApplyEvent(const Event& event, ImGuiIO& io, FrameChanges& changes) {
    switch (event.kind) {
        case Kind::Position:
            io.MousePos = ImVec2(event.x, event.y);
            changes.moved = true;
            break;
        case Kind::Button:
            changes.buttons[event.index] = io.MouseDown[event.index] != event.pressed;
            io.MouseDown[event.index] = event.pressed;
            break;
        case Kind::Key:
            changes.keys[event.index] = io.KeysDown[event.index] != event.pressed;
            io.KeysDown[event.index] = event.pressed;
            break;
        case Kind::Wheel:
            io.MouseWheelH += event.x;
            io.MouseWheel += event.y;
            changes.wheeled = true;
            break;
        case Kind::Character:
            io.AddInputCharacter(static_cast<unsigned int>(event.index));
            changes.typed = true;
            break;
    }
}

}  // namespace vesk
