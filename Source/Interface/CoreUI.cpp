// CoreUI: UI context, fonts, cursors, input callbacks and the per-frame begin / end.
#include "CoreUI.h"

#include <GLFW/glfw3.h>
#include <imgui.h>

#include <cmath>

#include "Interface/CoreUIStyle.h"
#include "Interface/DrawDataFingerprint.h"
#include "Interface/FontLoader.h"
#include "Interface/GlyphRows.h"
#include "Interface/OpenGLRenderer.h"
#include "Interface/Texture.h"

namespace vesk {

namespace {

constexpr float FirstFrameDelta = 1.0f / 60.0f;
// The UI library rejects a non-positive frame delta; two frames can read the same clock tick.
constexpr float MinimumFrameDelta = 1.0e-6f;

// OS cursor for each UI cursor shape, in the UI library's order: arrow, text input,
// resize all, resize N-S, resize E-W, resize NE-SW, resize NW-SE, hand, not allowed.
constexpr int CursorShapes[] = {GLFW_ARROW_CURSOR,   GLFW_IBEAM_CURSOR,   GLFW_ARROW_CURSOR,
                                GLFW_VRESIZE_CURSOR, GLFW_HRESIZE_CURSOR, GLFW_ARROW_CURSOR,
                                GLFW_ARROW_CURSOR,   GLFW_HAND_CURSOR,    GLFW_ARROW_CURSOR};

void MapKeys(ImGuiIO& io) {
    io.KeyMap[ImGuiKey_Tab] = GLFW_KEY_TAB;
    io.KeyMap[ImGuiKey_LeftArrow] = GLFW_KEY_LEFT;
    io.KeyMap[ImGuiKey_RightArrow] = GLFW_KEY_RIGHT;
    io.KeyMap[ImGuiKey_UpArrow] = GLFW_KEY_UP;
    io.KeyMap[ImGuiKey_DownArrow] = GLFW_KEY_DOWN;
    io.KeyMap[ImGuiKey_PageUp] = GLFW_KEY_PAGE_UP;
    io.KeyMap[ImGuiKey_PageDown] = GLFW_KEY_PAGE_DOWN;
    io.KeyMap[ImGuiKey_Home] = GLFW_KEY_HOME;
    io.KeyMap[ImGuiKey_End] = GLFW_KEY_END;
    io.KeyMap[ImGuiKey_Insert] = GLFW_KEY_INSERT;
    io.KeyMap[ImGuiKey_Delete] = GLFW_KEY_DELETE;
    io.KeyMap[ImGuiKey_Backspace] = GLFW_KEY_BACKSPACE;
    io.KeyMap[ImGuiKey_Space] = GLFW_KEY_SPACE;
    io.KeyMap[ImGuiKey_Enter] = GLFW_KEY_ENTER;
    io.KeyMap[ImGuiKey_Escape] = GLFW_KEY_ESCAPE;
    io.KeyMap[ImGuiKey_KeyPadEnter] = GLFW_KEY_KP_ENTER;
    io.KeyMap[ImGuiKey_A] = GLFW_KEY_A;
    io.KeyMap[ImGuiKey_C] = GLFW_KEY_C;
    io.KeyMap[ImGuiKey_V] = GLFW_KEY_V;
    io.KeyMap[ImGuiKey_X] = GLFW_KEY_X;
    io.KeyMap[ImGuiKey_Y] = GLFW_KEY_Y;
    io.KeyMap[ImGuiKey_Z] = GLFW_KEY_Z;
}

}  // namespace

std::shared_ptr<CoreUI> CoreUI::Get() {
    static std::shared_ptr<CoreUI> instance = std::make_shared<CoreUI>();
    return instance;
}

bool CoreUI::Init(GLFWwindow* window) {
    if (initialized_) {
        return true;
    }
    IMGUI_CHECKVERSION();
    ImGui::CreateContext();
    window_ = window;

    ImGuiIO& io = ImGui::GetIO();
    io.BackendFlags |= ImGuiBackendFlags_HasMouseCursors | ImGuiBackendFlags_HasSetMousePos;
    io.BackendPlatformName = "imgui_impl_glfw";
    io.IniFilename = nullptr;  // no settings file is read or written

    LoadFonts();
    ApplyColourScheme(ImGui::GetStyle());
    CreateCursors();
    MapKeys(io);
    InstallCallbacks();

    time_ = 0.0;
    frameBegun_ = false;
    initialized_ = true;
    return true;
}

void CoreUI::LoadFonts() {
    ImGuiIO& io = ImGui::GetIO();
    io.Fonts->Clear();
    fonts_ = AddInterfaceFonts(*io.Fonts, contentScale_);
    fontScale_ = contentScale_;
    io.FontDefault = fonts_[DefaultFontIndex];

    unsigned char* pixels = nullptr;
    int width = 0;
    int height = 0;
    io.Fonts->GetTexDataAsRGBA32(&pixels, &width, &height);
    // A rebuild at another scale replaces the pixels of the texture the renderer binds.
    if (!fontTexture_ || !fontTexture_->CopyToGpu(pixels, width, height)) {
        fontTexture_ = CreateTexture("font_texture", pixels, width, height);
    }
    // The atlas's own handle stays null: the renderer maps null to the font texture.
    io.Fonts->SetTexID(nullptr);
    // The pixels are on the GPU; the CPU copy is not needed any more.
    io.Fonts->ClearTexData();
}

void CoreUI::SnapTextToPixelRows() {
    // At whole scales text already starts on a pixel row.
    if (contentScale_ == std::floor(contentScale_)) {
        return;
    }
    if (ImDrawData* data = ImGui::GetDrawData()) {
        SnapGlyphsToPixelRows(*data, ShapeAreaOf(*ImGui::GetIO().Fonts), data->FramebufferScale.y);
    }
}

void CoreUI::SetContentScale(float scale) {
    if (scale > 0.0f) {
        contentScale_ = scale;
    }
}

void CoreUI::RebuildFontsIfScaleChanged() {
    if (fontScale_ != contentScale_) {
        LoadFonts();
    }
}

void CoreUI::CreateCursors() {
    for (int i = 0; i < CursorCount; ++i) {
        if (cursors_[i] == nullptr) {
            cursors_[i] = glfwCreateStandardCursor(CursorShapes[i]);
        }
    }
}

void CoreUI::InstallCallbacks() {
    if (window_ == nullptr) {
        return;
    }
    glfwSetMouseButtonCallback(window_, &CoreUI::OnMouseButton);
    glfwSetScrollCallback(window_, &CoreUI::OnScroll);
    glfwSetCursorPosCallback(window_, &CoreUI::OnCursorPosition);
    glfwSetKeyCallback(window_, &CoreUI::OnKey);
    glfwSetCharCallback(window_, &CoreUI::OnChar);
}

void CoreUI::Shutdown() {
    input_.Clear();
    if (!initialized_) {
        return;
    }
    if (window_ != nullptr) {
        glfwSetMouseButtonCallback(window_, nullptr);
        glfwSetScrollCallback(window_, nullptr);
        glfwSetCursorPosCallback(window_, nullptr);
        glfwSetKeyCallback(window_, nullptr);
        glfwSetCharCallback(window_, nullptr);
    }
    // Cursors belong to the window library's session; a later Init may follow a new one.
    for (GLFWcursor*& cursor : cursors_) {
        if (cursor != nullptr) {
            glfwDestroyCursor(cursor);
            cursor = nullptr;
        }
    }
    ImGui::DestroyContext();
    fonts_.clear();
    frameBegun_ = false;
    hasDrawn_ = false;
    initialized_ = false;
}

ImFont* CoreUI::GetFont(int index) const {
    auto font = fonts_.find(index);
    return font == fonts_.end() ? nullptr : font->second;
}

void CoreUI::NewFrame() {
    if (!initialized_) {
        return;
    }
    if (frameBegun_) {
        Render();
    }
    // Between frames: the atlas must not change while a frame uses it.
    RebuildFontsIfScaleChanged();
    ImGuiIO& io = ImGui::GetIO();
    int width = 0;
    int height = 0;
    int fbWidth = 0;
    int fbHeight = 0;
    if (window_ != nullptr) {
        glfwGetWindowSize(window_, &width, &height);
        glfwGetFramebufferSize(window_, &fbWidth, &fbHeight);
    }
    // The screens lay out in units; the framebuffer scale maps them onto the pixels.
    const float scale = contentScale_;
    io.DisplaySize = ImVec2(static_cast<float>(width) / scale, static_cast<float>(height) / scale);
    io.DisplayFramebufferScale =
        ImVec2(width > 0 ? static_cast<float>(fbWidth) / width * scale : 0.0f,
               height > 0 ? static_cast<float>(fbHeight) / height * scale : 0.0f);

    const double now = glfwGetTime();
    float delta = time_ > 0.0 ? static_cast<float>(now - time_) : FirstFrameDelta;
    io.DeltaTime = delta > MinimumFrameDelta ? delta : MinimumFrameDelta;
    time_ = now;

    input_.Apply(io);
    io.KeyCtrl = io.KeysDown[GLFW_KEY_LEFT_CONTROL] || io.KeysDown[GLFW_KEY_RIGHT_CONTROL];
    io.KeyShift = io.KeysDown[GLFW_KEY_LEFT_SHIFT] || io.KeysDown[GLFW_KEY_RIGHT_SHIFT];
    io.KeyAlt = io.KeysDown[GLFW_KEY_LEFT_ALT] || io.KeysDown[GLFW_KEY_RIGHT_ALT];
    io.KeySuper = io.KeysDown[GLFW_KEY_LEFT_SUPER] || io.KeysDown[GLFW_KEY_RIGHT_SUPER];
    ImGui::NewFrame();
    frameBegun_ = true;
}

void CoreUI::UpdateCursor() {
    if (window_ == nullptr) {
        return;
    }
    const ImGuiMouseCursor shape = ImGui::GetMouseCursor();
    GLFWcursor* cursor = (shape >= 0 && shape < CursorCount) ? cursors_[shape] : nullptr;
    glfwSetCursor(window_, cursor != nullptr ? cursor : cursors_[ImGuiMouseCursor_Arrow]);
}

void CoreUI::Render() {
    if (!frameBegun_) {
        return;
    }
    UpdateCursor();
    ImGui::Render();
    SnapTextToPixelRows();

    int fbWidth = 0;
    int fbHeight = 0;
    if (window_ != nullptr) {
        glfwGetFramebufferSize(window_, &fbWidth, &fbHeight);
    }
    glViewport(0, 0, fbWidth, fbHeight);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    RenderDrawData(ImGui::GetDrawData(), fontTexture_ ? fontTexture_->GetGLTexture() : 0);
    frameBegun_ = false;
}

bool CoreUI::RenderIfChanged(bool force) {
    if (!frameBegun_) {
        return false;
    }
    UpdateCursor();
    ImGui::Render();
    SnapTextToPixelRows();
    frameBegun_ = false;
    const ImDrawData* data = ImGui::GetDrawData();
    int fbWidth = 0;
    int fbHeight = 0;
    if (window_ != nullptr) {
        glfwGetFramebufferSize(window_, &fbWidth, &fbHeight);
    }
    std::uint64_t fingerprint = data != nullptr ? FingerprintDrawData(*data) : 0;
    fingerprint ^= (static_cast<std::uint64_t>(static_cast<std::uint32_t>(fbWidth)) << 32) |
                   static_cast<std::uint32_t>(fbHeight);
    if (!force && hasDrawn_ && fingerprint == drawnFingerprint_) {
        return false;
    }
    hasDrawn_ = true;
    drawnFingerprint_ = fingerprint;
    glViewport(0, 0, fbWidth, fbHeight);
    glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    RenderDrawData(data, fontTexture_ ? fontTexture_->GetGLTexture() : 0);
    return true;
}

void CoreUI::OnMouseButton(GLFWwindow*, int button, int action, int) {
    if (ImGui::GetCurrentContext() == nullptr) {
        return;
    }
    Get()->input_.OnButton(button, action != GLFW_RELEASE);
}

void CoreUI::OnScroll(GLFWwindow*, double xOffset, double yOffset) {
    if (ImGui::GetCurrentContext() == nullptr) {
        return;
    }
    Get()->input_.OnWheel(static_cast<float>(xOffset), static_cast<float>(yOffset));
}

void CoreUI::OnCursorPosition(GLFWwindow*, double x, double y) {
    if (ImGui::GetCurrentContext() == nullptr) {
        return;
    }
    // The window reports pixels; the UI's hit tests work in layout units.
    const auto ui = Get();
    ui->input_.OnPosition(static_cast<float>(x / ui->contentScale_),
                          static_cast<float>(y / ui->contentScale_));
}

void CoreUI::OnKey(GLFWwindow*, int key, int, int action, int) {
    if (ImGui::GetCurrentContext() == nullptr) {
        return;
    }
    // Repeats leave the state as it is.
    if (action == GLFW_PRESS || action == GLFW_RELEASE) {
        Get()->input_.OnKey(key, action == GLFW_PRESS);
    }
}

void CoreUI::OnChar(GLFWwindow*, unsigned int codePoint) {
    if (ImGui::GetCurrentContext() == nullptr) {
        return;
    }
    Get()->input_.OnCharacter(codePoint);
}

}  // namespace vesk
