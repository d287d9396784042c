// The error screens' one way out: an outlined "Exit" button 160 x 38 px at y 500.
#pragma once

namespace vesk {

class WindowDrag;

class ExitButton {
public:
    // The outline and label: white on the grey screen, dark on a white panel.
    enum class Ink { White, Dark };

    // Draws the button centred on column `cx`; true when clicked.
    static bool Draw(WindowDrag& drag, float cx, Ink ink);
};

}  // namespace vesk
