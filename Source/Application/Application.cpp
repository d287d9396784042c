// Application: window creation, the frame loop and the window controls the screens use.
#include "Application.h"

#include <GLFW/glfw3.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <thread>

#include "Application/FramePacer.h"
#include "Interface/CoreUI.h"
#include "Support/ConsoleLog.h"
#include "Support/FrameTimer.h"

namespace vesk {

namespace {

void OnGlfwError(int code, const char* description) {
    std::fprintf(stderr, "Error %d: %s\n", code, description != nullptr ? description : "");
}

}  // namespace

Application& GetApplication() {
    // Never destroyed: the process may end while other threads still hold on to it.
    static Application* application = new Application();
    return *application;
}

bool Application::Create() {
    if (created_) {
        return true;
    }
    LogVerbose(" Application::Create() -> Engine starting...'\n");

    glfwSetErrorCallback(&OnGlfwError);
    if (glfwInit() != GLFW_TRUE) {
        LogError(" Application::Create() -> GLFW: Init failed!\n");
        return false;
    }
    libraryReady_ = true;
    // The window opens on the primary monitor, so it is made at that monitor's scale; a size
    // asked for before the library was up is scaled and clamped now the desktop is known.
    if (GLFWmonitor* primary = glfwGetPrimaryMonitor()) {
        float xScale = 1.0f;
        float yScale = 1.0f;
        glfwGetMonitorContentScale(primary, &xScale, &yScale);
        contentScale_ = UsableContentScale(xScale);
    }
    CoreUI::Get()->SetContentScale(contentScale_);
    SetSize(requestedWidth_, requestedHeight_);

    glfwWindowHint(GLFW_CLIENT_API, GLFW_OPENGL_API);
    glfwWindowHint(GLFW_AUTO_ICONIFY, GLFW_TRUE);
    if (!MakeWindow()) {
        LogError(" Application::Create() -> GLFW: Window creation failed!\n");
        return false;
    }
    glfwMakeContextCurrent(window_);
    glfwSwapInterval(1);
    glfwSetWindowUserPointer(window_, this);
    // A move to a monitor of another scale (or a change of the setting) is reported here.
    glfwSetWindowContentScaleCallback(window_, &Application::OnContentScale);
    float windowScaleX = 1.0f;
    float windowScaleY = 1.0f;
    glfwGetWindowContentScale(window_, &windowScaleX, &windowScaleY);
    if (UsableContentScale(windowScaleX) != contentScale_) {
        ApplyContentScale(UsableContentScale(windowScaleX));
    }

    // Centred directly: the stored position is what SetPosition was last given.
    const auto [monitorWidth, monitorHeight] = GetPrimaryMonitorResolution();
    glfwSetWindowPos(window_, (monitorWidth - pixelWidth_) / 2, (monitorHeight - pixelHeight_) / 2);

    CoreUI::Get()->Init(window_);
    FrameTimer::Get().Start();
    FrameTimer::Get().Update();
    created_ = true;

    if (onCreated_) {
        onCreated_();
    }
    return true;
}

bool Application::MakeWindow() {
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = monitor != nullptr ? glfwGetVideoMode(monitor) : nullptr;
    switch (windowMode_) {
        case WindowMode::Borderless:
            glfwWindowHint(GLFW_DECORATED, GLFW_FALSE);
            window_ = glfwCreateWindow(pixelWidth_, pixelHeight_, title_.c_str(), nullptr, nullptr);
            break;
        case WindowMode::Fullscreen:
            if (mode != nullptr) {
                glfwWindowHint(GLFW_RED_BITS, mode->redBits);
                glfwWindowHint(GLFW_GREEN_BITS, mode->greenBits);
                glfwWindowHint(GLFW_BLUE_BITS, mode->blueBits);
                glfwWindowHint(GLFW_REFRESH_RATE, mode->refreshRate);
            }
            window_ = glfwCreateWindow(pixelWidth_, pixelHeight_, title_.c_str(), monitor, nullptr);
            break;
        case WindowMode::DesktopFullscreen: {
            const auto [desktopWidth, desktopHeight] = GetPrimaryMonitorResolution();
            window_ =
                glfwCreateWindow(desktopWidth, desktopHeight, title_.c_str(), monitor, nullptr);
            break;
        }
        default:
            window_ = glfwCreateWindow(pixelWidth_, pixelHeight_, title_.c_str(), nullptr, nullptr);
            break;
    }
    if (window_ != nullptr) {
        shownTitle_ = title_;
    }
    return window_ != nullptr;
}

void Application::Run() {
    if (!created_) {
        return;
    }
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = monitor != nullptr ? glfwGetVideoMode(monitor) : nullptr;
    FramePacer pacer(mode != nullptr ? mode->refreshRate : 0.0);
    const auto ui = CoreUI::Get();
    glfwSetWindowUserPointer(window_, this);
    glfwSetWindowRefreshCallback(window_, &Application::OnWindowRefresh);

    // A frame that looked like the last one drawn is not drawn again; the loop then
    // waits for input up to IdleWait before it builds the next one. A changing frame
    // (a fade, a moving bar) runs at the display's rate as before.
    bool changing = true;
    auto lastDrawn = FramePacer::Clock::now();
    while (glfwWindowShouldClose(window_) == GLFW_FALSE) {
        // Input held back for a later frame (InputQueue) needs that frame now.
        if (changing || ui->HasPendingInput()) {
            glfwPollEvents();
        } else {
            glfwWaitEventsTimeout(IdleWait.count());
        }
        if (reportedScale_ > 0.0f) {
            ApplyContentScale(UsableContentScale(reportedScale_));
            reportedScale_ = 0.0f;
        }
        FrameTimer::Get().Update();
        ui->NewFrame();
        windowChanged_ = false;
        if (drawFrame_ && !drawFrame_()) {
            break;
        }
        const auto now = FramePacer::Clock::now();
        const bool force = redrawRequested_ || now - lastDrawn >= IdleRedraw;
        redrawRequested_ = false;
        const bool drawn = ui->RenderIfChanged(force);
        if (drawn) {
            glfwMakeContextCurrent(window_);
            glfwSwapBuffers(window_);
            lastDrawn = now;
        }
        changing = drawn || windowChanged_;
        if (shownTitle_ != title_) {
            glfwSetWindowTitle(window_, title_.c_str());
            shownTitle_ = title_;
        }
        if (changing) {
            const auto sleep = pacer.AfterSwap(FramePacer::Clock::now());
            if (sleep > FramePacer::Clock::duration::zero()) {
                std::this_thread::sleep_for(sleep);
            }
        }
    }
    glfwSetWindowRefreshCallback(window_, nullptr);
}

void Application::OnWindowRefresh(GLFWwindow* window) {
    if (auto* application = static_cast<Application*>(glfwGetWindowUserPointer(window))) {
        application->redrawRequested_ = true;
    }
}

void Application::OnContentScale(GLFWwindow* window, float xScale, float) {
    if (auto* application = static_cast<Application*>(glfwGetWindowUserPointer(window))) {
        application->reportedScale_ = xScale > 0.0f ? xScale : 1.0f;
    }
}

float Application::UsableContentScale(float reported) {
    if (!(reported > 0.0f) || !std::isfinite(reported)) {
        return 1.0f;
    }
    return std::clamp(reported, 1.0f, MaxContentScale);
}

void Application::ApplyContentScale(float scale) {
    if (scale == contentScale_) {
        return;
    }
    LogMessage(" Application: display scale %.2f -> %.2f", static_cast<double>(contentScale_),
               static_cast<double>(scale));
    // The window keeps its top-left corner; its size and the fonts follow the scale.
    contentScale_ = scale;
    CoreUI::Get()->SetContentScale(scale);
    SetSize(requestedWidth_, requestedHeight_);
    redrawRequested_ = true;
}

void Application::Shutdown() {
    CoreUI::Get()->Shutdown();
    if (window_ != nullptr) {
        glfwDestroyWindow(window_);
        window_ = nullptr;
    }
    sizeApplied_ = false;
    positionApplied_ = false;
    setOpacity_ = 1.0f;
    if (libraryReady_) {
        glfwTerminate();
        libraryReady_ = false;
    }
    created_ = false;
}

void Application::SetTitle(const std::string& name) {
    if (name.empty()) {
        return;
    }
    title_ = "Tavrin | " + name;
    if (window_ != nullptr) {
        glfwSetWindowTitle(window_, title_.c_str());
        shownTitle_ = title_;
    }
}

void Application::SetSize(int width, int height) {
    requestedWidth_ = width;
    requestedHeight_ = height;
    int pixelWidth = static_cast<int>(std::lround(width * contentScale_));
    int pixelHeight = static_cast<int>(std::lround(height * contentScale_));
    width_ = width;
    height_ = height;
    const auto [desktopWidth, desktopHeight] = GetPrimaryMonitorResolution();
    // A clamped window lays out in the units that still fit.
    if (desktopWidth > 0 && pixelWidth > desktopWidth) {
        pixelWidth = desktopWidth;
        width_ = static_cast<int>(pixelWidth / contentScale_);
    }
    if (desktopHeight > 0 && pixelHeight > desktopHeight) {
        pixelHeight = desktopHeight;
        height_ = static_cast<int>(pixelHeight / contentScale_);
    }
    // The screens set their size and place every frame; each call to the window system
    // is a round of X events (or window messages) that wakes the loop again, so a still
    // screen would keep a core busy. Only a change is passed on.
    if (pixelWidth == pixelWidth_ && pixelHeight == pixelHeight_ && sizeApplied_) {
        return;
    }
    pixelWidth_ = pixelWidth;
    pixelHeight_ = pixelHeight;
    if (window_ != nullptr) {
        glfwSetWindowSize(window_, pixelWidth_, pixelHeight_);
        sizeApplied_ = true;
    }
}

void Application::SetPosition(int x, int y) {
    MoveTo(static_cast<int>(std::lround(x * contentScale_)),
           static_cast<int>(std::lround(y * contentScale_)));
}

void Application::Center() {
    const auto [monitorWidth, monitorHeight] = GetPrimaryMonitorResolution();
    // In pixels, so a scaled window is centred to the pixel as an unscaled one is.
    MoveTo((monitorWidth - pixelWidth_) / 2, (monitorHeight - pixelHeight_) / 2);
}

void Application::MoveTo(int x, int y) {
    // As with the size: only a change goes to the window system.
    if (x == x_ && y == y_ && positionApplied_) {
        return;
    }
    windowChanged_ = true;
    x_ = x;
    y_ = y;
    if (window_ != nullptr) {
        glfwSetWindowPos(window_, x_, y_);
        positionApplied_ = true;
    }
}

void Application::SetOpacity(float opacity) {
    if (window_ != nullptr) {
        const float clamped = std::clamp(opacity, 0.0f, 1.0f);
        if (clamped == setOpacity_) {
            return;
        }
        windowChanged_ = true;
        setOpacity_ = clamped;
        glfwSetWindowOpacity(window_, clamped);
    }
}

float Application::GetOpacity() const {
    return window_ != nullptr ? glfwGetWindowOpacity(window_) : 1.0f;
}

void Application::Minimize() {
    if (created_ && window_ != nullptr) {
        glfwIconifyWindow(window_);
    }
}

bool Application::GetCursorScreenPosition(int& x, int& y) const {
    if (window_ == nullptr) {
        return false;
    }
    double cursorX = 0.0;
    double cursorY = 0.0;
    int windowX = 0;
    int windowY = 0;
    glfwGetCursorPos(window_, &cursorX, &cursorY);
    glfwGetWindowPos(window_, &windowX, &windowY);
    // In the units SetPosition takes, so a drag keeps the grabbed spot under the cursor.
    x = static_cast<int>(std::floor((windowX + cursorX) / contentScale_));
    y = static_cast<int>(std::floor((windowY + cursorY) / contentScale_));
    return true;
}

std::pair<int, int> Application::GetPrimaryMonitorResolution() const {
    if (!libraryReady_) {
        return {0, 0};
    }
    GLFWmonitor* monitor = glfwGetPrimaryMonitor();
    const GLFWvidmode* mode = monitor != nullptr ? glfwGetVideoMode(monitor) : nullptr;
    if (mode == nullptr) {
        return {0, 0};
    }
    return {mode->width, mode->height};
}

}  // namespace vesk
