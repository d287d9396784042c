// The glue between the window and the immediate-mode UI: creates the UI context, loads the
// fonts, sets the colours, feeds window input to the UI, begins each frame and draws it with
// fixed-function OpenGL (OpenGLRenderer). UI thread only, after the window's context is current.
#pragma once

#include <cstdint>
#include <map>
#include <memory>

#include "Interface/InputQueue.h"

struct GLFWwindow;
struct GLFWcursor;
struct ImFont;

namespace vesk {

class Texture;

class CoreUI {
public:
    // The one shared instance, created on first use.
    static std::shared_ptr<CoreUI> Get();

    // Creates the UI context for `window` (its OpenGL context current): fonts and the font
    // texture "font_texture", colours, cursors, key map, and the window's input callbacks
    // (replacing any installed before). Returns true; a second call does nothing.
    bool Init(GLFWwindow* window);

    // The window's content scale (1 at 96 DPI): the UI lays out in units of 1 / scale of the
    // window's pixels, so a 1200-unit screen fills a window of 1200 x scale pixels, and the
    // fonts are rasterised again at the new size before the next frame. Values that are not
    // positive are ignored. May be called before Init.
    void SetContentScale(float scale);
    float GetContentScale() const { return contentScale_; }

    // Begins a UI frame: display size and framebuffer scale from the window, delta time from
    // the window library's clock (1/60 s on the first frame). A frame begun and never
    // rendered is rendered first. Does nothing before Init.
    void NewFrame();

    // Ends the UI frame, sets the OS cursor the UI asks for, clears to transparent black and
    // draws. Does nothing unless a frame was begun.
    void Render();

    // Render for a frame loop that draws only what changed: ends the UI frame and draws it
    // like Render when it differs from the frame drawn last (or `force` is set), and then
    // returns true; returns false, drawing nothing, when it looks the same.
    bool RenderIfChanged(bool force);

    // Destroys the UI context and the cursors and removes the input callbacks; the window
    // stays. Call before the window library ends. After this the instance reads as not
    // initialised and may be initialised again.
    void Shutdown();

    // The font of the given index (0..5: 8, 12, 16, 24, 32, 64 px), or null.
    ImFont* GetFont(int index) const;
    bool IsInitialized() const { return initialized_; }
    const std::shared_ptr<Texture>& GetFontTexture() const { return fontTexture_; }

    // True while window input waits for a coming frame: the loop should not sit idle.
    bool HasPendingInput() const { return input_.HasPending(); }

    // Window input callbacks; each does nothing while no UI context exists. Input reaches
    // the UI from the next NewFrame on, a frame at a time (InputQueue).
    static void OnMouseButton(GLFWwindow* window, int button, int action, int mods);
    static void OnScroll(GLFWwindow* window, double xOffset, double yOffset);
    static void OnCursorPosition(GLFWwindow* window, double x, double y);
    static void OnKey(GLFWwindow* window, int key, int scancode, int action, int mods);
    static void OnChar(GLFWwindow* window, unsigned int codePoint);

private:
    static constexpr int CursorCount = 9;

    void LoadFonts();
    void RebuildFontsIfScaleChanged();
    // Between ImGui::Render and drawing: text of a fractionally scaled frame onto pixel rows.
    void SnapTextToPixelRows();
    void CreateCursors();
    void InstallCallbacks();
    void UpdateCursor();

    GLFWwindow* window_ = nullptr;
    std::shared_ptr<Texture> fontTexture_;
    std::map<int, ImFont*> fonts_;
    bool initialized_ = false;
    double time_ = 0.0;
    float contentScale_ = 1.0f;
    // The scale the font atlas was last built at.
    float fontScale_ = 1.0f;
    bool frameBegun_ = false;
    // The fingerprint of the frame RenderIfChanged drew last.
    bool hasDrawn_ = false;
    std::uint64_t drawnFingerprint_ = 0;
    GLFWcursor* cursors_[CursorCount] = {};
    InputQueue input_;
};

}  // namespace vesk
