// What the interface may do with the program's one window. The application shell owns the
// window and implements this; the screens move, resize, fade and minimise it through it, so
// the interface layer never depends on the shell. UI thread only.
#pragma once

namespace vesk {

class IApplicationWindow {
public:
    virtual ~IApplicationWindow() = default;

    // Client size in pixels as last set (the layout size of the screens).
    virtual int GetWidth() const = 0;
    virtual int GetHeight() const = 0;
    // Stores the size, clamped to the desktop, and resizes the window.
    virtual void SetSize(int width, int height) = 0;
    // Moves the window's top-left corner to (x, y) in screen coordinates.
    virtual void SetPosition(int x, int y) = 0;
    // Centres the window on the primary monitor (negative when the window is larger).
    virtual void Center() = 0;
    // Whole-window opacity, clamped to 0..1; reads 1 where the system cannot fade windows.
    virtual void SetOpacity(float opacity) = 0;
    virtual float GetOpacity() const = 0;
    virtual void Minimize() = 0;
    // The mouse cursor in screen coordinates; false when it cannot be read.
    virtual bool GetCursorScreenPosition(int& x, int& y) const = 0;
};

// The program's window as the screens reach it: set by the shell once the window exists;
// null before that (the screens then draw nothing that needs it).
IApplicationWindow* GetApplicationWindow();
void SetApplicationWindow(IApplicationWindow* window);

}  // namespace vesk
