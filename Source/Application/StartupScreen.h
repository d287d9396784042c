// The screen the program shows until the download screens take over the frame: the logo
// centred on white. Escape ends the program.
#pragma once

namespace vesk {

class IApplicationWindow;

// Registers the logo texture; call once the window and the UI exist.
void SetupStartupScreen();

// Draws one frame of the screen; false when the user asked to leave.
bool DrawStartupScreen(const IApplicationWindow& window);

}  // namespace vesk
