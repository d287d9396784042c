// The error screens' one way out: an outlined "Exit" button 160 x 38 px at y 500.
#pragma once

namespace vesk {

class WindowDrag;

// The outline and label: white on the grey screen, dark on a white panel.
enum class ExitInk { White, Dark };

// Draws the button centred on column `cx`; true when clicked.
bool DrawExitButton(WindowDrag& drag, float cx, ExitInk ink);

}  // namespace vesk
