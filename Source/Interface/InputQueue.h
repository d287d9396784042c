// Window input handed to the UI a frame at a time, in the order it happened. Within one
// frame the UI only sees the last state of each button and the last pointer position, so
// a click followed by a move, or a press and release of the same button, would be lost
// if they all came between two frames. The queue hands the UI events up to the first one
// that would hide an earlier one of the same frame, and keeps the rest for the next frame.
#pragma once

#include <bitset>
#include <cstddef>
#include <cstdint>
#include <deque>

struct ImGuiIO;

namespace vesk {

class InputQueue {
public:
    static constexpr int ButtonCount = 5;
    static constexpr int KeyCount = 512;
    // A queue longer than this (input flooding in faster than frames run) is handed over
    // whole: its end state is kept, its intermediate presses are not.
    static constexpr std::size_t MostPending = 256;

    void OnPosition(float x, float y);
    // Button and key indexes outside 0..ButtonCount-1 and 0..KeyCount-1 are ignored.
    void OnButton(int button, bool pressed);
    void OnKey(int key, bool pressed);
    void OnWheel(float horizontal, float vertical);
    void OnCharacter(unsigned int codePoint);

    // Writes one frame's input into `io`: pointer position, button and key states, wheel
    // (added to what `io` holds) and typed characters.
    void Apply(ImGuiIO& io);

    bool HasPending() const { return !events_.empty(); }
    void Clear() { events_.clear(); }

private:
    enum class Kind : std::uint8_t { Position, Button, Key, Wheel, Character };
    struct Event {
        Kind kind;
        bool pressed;
        int index;  // button, key, or character code point
        float x;
        float y;
    };

    // What the events a frame took so far have changed.
    struct FrameChanges {
        std::bitset<ButtonCount> buttons;
        std::bitset<KeyCount> keys;
        bool moved = false;
        bool wheeled = false;
        bool typed = false;
    };

    // True when `event` would hide a change the frame already took, so it waits.
    static bool MustWait(const Event& event, const FrameChanges& changes);
    static void ApplyEvent(const Event& event, ImGuiIO& io, FrameChanges& changes);

    std::deque<Event> events_;
};

}  // namespace vesk
