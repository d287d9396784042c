// The grey screen after the manifest could not be had: one line sending the user to the
// support page (which the controller opens), and the Exit button. It fades the window in.
#pragma once

#include "Interface/WindowFadeIn.h"

namespace vesk {

class WindowDrag;

class RequestFailedScreen {
public:
    // Draws the screen and the title bar; false when Exit or the exit glyph was clicked.
    bool Run(WindowDrag& drag);

private:
    bool Draw(WindowDrag& drag);

    WindowFadeIn fade_;
};

}  // namespace vesk
