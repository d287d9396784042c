// The registration of the program's window for the screens.
#include "Interface/IApplicationWindow.h"

namespace vesk {

namespace {
IApplicationWindow* applicationWindow = nullptr;
}  // namespace

IApplicationWindow* GetApplicationWindow() {
    return applicationWindow;
}

void SetApplicationWindow(IApplicationWindow* window) {
    applicationWindow = window;
}

}  // namespace vesk
