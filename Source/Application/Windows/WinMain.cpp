// Process entry of the Windows program: a GUI-subsystem program, so no console window
// opens with it.
#include <windows.h>

#include "Application/ProgramEntry.h"

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    vesk::RunProgram();
}
