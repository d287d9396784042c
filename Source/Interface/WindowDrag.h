// Dragging the borderless window by any point that is not a button, and the custom buttons
// (a rectangle registered with the UI under a fixed id, drawn by the screens themselves),
// which must neither start a drag nor be pressed by one that ends over them.
#pragma once

namespace vesk {

class WindowDrag {
public:
    // Called before the frame's screens: no button is under the mouse yet.
    void BeginFrame() { widgetHovered_ = false; }

    // Registers the button's rectangle under `id`. Returns whether it was clicked;
    // `hovered` and `held` tell how to draw it.
    bool Button(const char* id, float x, float y, float width, float height, bool& hovered,
                bool& held);

    // Called after the frame's screens, inside the main window: starts, follows or ends a
    // drag. `movable` is false on the splash, which is never dragged.
    void Update(bool movable);

private:
    bool movedThisFrame_ = false;
    bool dragging_ = false;
    bool widgetHovered_ = false;
    float grabOffsetX_ = 0.0f;
    float grabOffsetY_ = 0.0f;
};

}  // namespace vesk
