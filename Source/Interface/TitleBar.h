// The title bar's minimise and exit glyphs in the top-right corner of the borderless window.
#pragma once

namespace vesk {

class WindowDrag;

class TitleBar {
public:
    // Draws both glyphs; minimises the window on a click of the first. True when the exit
    // glyph was clicked.
    static bool Draw(WindowDrag& drag);
};

}  // namespace vesk
