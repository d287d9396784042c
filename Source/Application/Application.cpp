// Application: window creation, the frame loop and the window controls the screens use.
#include "Application.h"

#include <GLFW/glfw3.h>

#include <algorithm>
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
    // A size asked for before the library was up is clamped now that the desktop is known.
    SetSize(width_, height_);

    glfwWindowHint(GLFW_CLIENT_API, GLFW_OPENGL_API);
    glfwWindowHint(GLFW_AUTO_ICONIFY, GLFW_TRUE);
    if (!MakeWindow()) {
        LogError(" Application::Create() -> GLFW: Window creation failed!\n");
        return false;
    }
    glfwMakeContextCurrent(window_);
    glfwSwapInterval(1);

    // Centred directly: the stored position is what SetPosition was last given.
    const auto [monitorWidth, monitorHeight] = GetPrimaryMonitorResolution();
    glfwSetWindowPos(window_, (monitorWidth - width_) / 2, (monitorHeight - height_) / 2);

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
            window_ = glfwCreateWindow(width_, height_, title_.c_str(), nullptr, nullptr);
            break;
        case WindowMode::Fullscreen:
            if (mode != nullptr) {
                glfwWindowHint(GLFW_RED_BITS, mode->redBits);
                glfwWindowHint(GLFW_GREEN_BITS, mode->greenBits);
                glfwWindowHint(GLFW_BLUE_BITS, mode->blueBits);
                glfwWindowHint(GLFW_REFRESH_RATE, mode->refreshRate);
            }
            window_ = glfwCreateWindow(width_, height_, title_.c_str(), monitor, nullptr);
            break;
        case WindowMode::DesktopFullscreen: {
            const auto [desktopWidth, desktopHeight] = GetPrimaryMonitorResolution();
            window_ =
                glfwCreateWindow(desktopWidth, desktopHeight, title_.c_str(), monitor, nullptr);
            break;
        }
        default:
            window_ = glfwCreateWindow(width_, height_, title_.c_str(), nullptr, nullptr);
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
    const auto [desktopWidth, desktopHeight] = GetPrimaryMonitorResolution();
    if (desktopWidth > 0 && desktopHeight > 0) {
        width = std::min(width, desktopWidth);
        height = std::min(height, desktopHeight);
    }
    // The screens set their size and place every frame; each call to the window system
    // is a round of X events (or window messages) that wakes the loop again, so a still
    // screen would keep a core busy. Only a change is passed on.
    if (width == width_ && height == height_ && sizeApplied_) {
        return;
    }
    width_ = width;
    height_ = height;
    if (window_ != nullptr) {
        glfwSetWindowSize(window_, width_, height_);
        sizeApplied_ = true;
    }
}

void Application::SetPosition(int x, int y) {
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

void Application::Center() {
    const auto [monitorWidth, monitorHeight] = GetPrimaryMonitorResolution();
    SetPosition((monitorWidth - width_) / 2, (monitorHeight - height_) / 2);
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
    x = windowX + static_cast<int>(cursorX);
    y = windowY + static_cast<int>(cursorY);
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
