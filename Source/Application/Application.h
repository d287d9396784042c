// The application shell: the one top-level window with its OpenGL context, and the frame
// loop that hands each frame to the interface (CoreUI for frame begin and end, a draw-frame
// handler for the screens). It knows nothing about downloads. UI (main) thread only.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <utility>

#include "Application/WindowMode.h"
#include "Interface/IApplicationWindow.h"

struct GLFWwindow;

namespace vesk {

class Application : public IApplicationWindow {
public:
    // Builds this frame's UI between CoreUI::NewFrame and CoreUI::Render; false ends the
    // loop at once (that frame is not drawn).
    using DrawFrameHandler = std::function<bool()>;
    // Runs once at the end of a successful Create, with the window and UI ready.
    using CreatedHandler = std::function<void()>;

    Application() = default;
    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // Initialises the window library, makes the window for the mode, size and title,
    // makes its context current with swap interval 1, centres it, initialises CoreUI,
    // starts the frame timer and runs the created handler. Logs and returns false when
    // the library or the window cannot be had. A second call returns true at once.
    bool Create();

    // The frame loop; returns when the window's close flag is set or the draw-frame
    // handler returns false.
    void Run();

    // Destroys the UI context, the window and the window library. Safe to call when
    // Create failed or was never called.
    void Shutdown();

    void SetDrawFrameHandler(DrawFrameHandler handler) { drawFrame_ = std::move(handler); }
    void SetCreatedHandler(CreatedHandler handler) { onCreated_ = std::move(handler); }

    // An empty name changes nothing; otherwise the title becomes "Tavrin | " + name.
    void SetTitle(const std::string& name);
    const std::string& GetTitle() const { return title_; }
    // Only has an effect before Create.
    void SetWindowMode(WindowMode mode) { windowMode_ = mode; }
    WindowMode GetWindowMode() const { return windowMode_; }

    // IApplicationWindow. Sizes and positions are in layout units: the window is the size
    // times the content scale in pixels (rounded), clamped to the desktop (the primary
    // monitor's current resolution); a size set before Create is scaled and clamped when
    // Create has the monitor. Screen positions are the desktop's pixels / the scale.
    int GetWidth() const override { return width_; }
    int GetHeight() const override { return height_; }
    void SetSize(int width, int height) override;
    void SetPosition(int x, int y) override;
    void Center() override;
    void SetOpacity(float opacity) override;
    float GetOpacity() const override;
    void Minimize() override;
    bool GetCursorScreenPosition(int& x, int& y) const override;

    // The window's content scale as the screens are drawn at it: 1 at 96 DPI, 1.5 at 144.
    float GetContentScale() const { return contentScale_; }
    // Clamps a scale the window system reports to the range the screens are drawn at:
    // never below 1 (the layout's own size) nor above MaxContentScale; anything that is
    // not a positive number reads as 1.
    static float UsableContentScale(float reported);
    static constexpr float MaxContentScale = 4.0f;

    // Width and height of the primary monitor's current video mode; (0, 0) when there is
    // none or the window library is not initialised.
    std::pair<int, int> GetPrimaryMonitorResolution() const;
    GLFWwindow* GetWindow() const { return window_; }
    bool IsCreated() const { return created_; }

private:
    // Between frames that do not change, the loop waits this long for input; and it
    // draws at least this often, whatever the fingerprints say. A whole frame drawn by a
    // software renderer costs tens of milliseconds, so a still screen drawn once a second
    // took 5% of a core; the window system asks for contents it lost (the refresh
    // callback), so the periodic draw is only a safety net.
    static constexpr std::chrono::duration<double> IdleWait{0.1};
    static constexpr std::chrono::seconds IdleRedraw{10};

    bool MakeWindow();
    // Places the window at (x, y) in pixels.
    void MoveTo(int x, int y);
    // Takes a new content scale: fonts, window size and input follow it.
    void ApplyContentScale(float scale);
    static void OnWindowRefresh(GLFWwindow* window);
    static void OnContentScale(GLFWwindow* window, float xScale, float yScale);

    bool created_ = false;
    // The size the screens asked for, the size they get (less when clamped), both in layout
    // units, and the window's size and place in pixels.
    int requestedWidth_ = 800;
    int requestedHeight_ = 600;
    int width_ = 800;
    int height_ = 600;
    int pixelWidth_ = 800;
    int pixelHeight_ = 600;
    int x_ = 0;
    int y_ = 0;
    float contentScale_ = 1.0f;
    // A scale the window system reported during event handling, taken before the next frame.
    float reportedScale_ = 0.0f;
    WindowMode windowMode_ = WindowMode::Fullscreen;
    std::string title_ = "Unnamed Application";
    GLFWwindow* window_ = nullptr;

    bool libraryReady_ = false;
    std::string shownTitle_;
    DrawFrameHandler drawFrame_;
    CreatedHandler onCreated_;
    // Set when the window needs its contents again (exposed), or moved or faded this
    // frame: both keep the loop at the display's rate.
    bool redrawRequested_ = true;
    bool windowChanged_ = false;
    float setOpacity_ = 1.0f;
    // Whether the window has been given width_/height_ and x_/y_ since it was made.
    bool sizeApplied_ = false;
    bool positionApplied_ = false;
};

// The program's one application object.
Application& GetApplication();

}  // namespace vesk
