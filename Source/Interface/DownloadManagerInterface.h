// The interface controller: the one full-window UI window drawn every frame and its screen
// flow (logo splash while the interface pictures load, the manifest request, then the
// progress or download error screen, or the request-failed screen), the custom title-bar
// buttons, dragging of the borderless window, and the only link to the download engine.
// UI thread only, except Init, which is the asset thread's body.
#pragma once

#include <chrono>
#include <memory>
#include <string>

#include "Interface/BackgroundCall.h"
#include "Interface/InterfaceAssets.h"
#include "Interface/Slideshow.h"

namespace DownloadSystem {
class DownloadCore;
}

namespace vesk {

class Texture;

// The one download engine facade of the process, created on first use.
std::shared_ptr<DownloadSystem::DownloadCore> GetDownloadCore();

enum class ScreenState { Splash, Downloading, RequestFailed };

class DownloadManagerInterface {
public:
    static std::shared_ptr<DownloadManagerInterface> Get();

    // Registers the logo texture and starts the asset thread (detached). Needs the window's
    // OpenGL context. Returns true; later calls do nothing.
    bool Setup(int edition);

    // Builds this frame's UI between CoreUI::NewFrame and CoreUI::Render. False ends the
    // frame loop: an Exit button or the exit glyph was clicked and the log report has been
    // posted (or its time is up), the download finished without errors (setup was started),
    // or the UI is not initialised.
    bool DrawMainWindow();

    // True while the manifest request or the log report runs in the background: the frame
    // loop must keep calling DrawMainWindow, which notices their end.
    bool IsWaitingForServer() const;

    // The asset thread's body: fetches the interface pictures from the configured host.
    void Init();
    // Turns at most one core and one media picture into textures; true when all are done.
    bool ProcessAssets();

    std::shared_ptr<Texture> GetCoreTexture(const std::string& key) const {
        return assets_.GetCoreTexture(key);
    }
    ScreenState GetState() const { return state_; }
    int GetEdition() const { return edition_; }

private:
    void RunSplash();
    void StartManifestRequest();
    void LeaveSplash();
    // After Exit: starts the log report once; true while the window is to stay open for it.
    bool KeepOpenForLogReport();
    const std::string& ErrorScreenText();
    void DrawSplash(float fade);
    bool RunDownloading();
    bool RunRequestFailed();
    void DrawBackground(bool showTagline, float alpha);
    void DrawProgress(float alpha);
    bool DrawDownloadErrorScreen();
    bool DrawRequestFailedScreen();
    // The error screens' Exit button centred on column `cx`; true when clicked.
    // The Exit button's outline and label: white on the grey screen, dark on a white panel.
    enum class ExitInk { White, Dark };
    bool DrawExitButton(float cx, ExitInk ink);
    bool DrawTitleButtons();
    void HandleWindowMove();
    // A custom button: registers the rectangle under `id` and updates widgetHovered_.
    // Returns whether it was clicked; `hovered` and `held` tell how to draw it.
    bool CustomButton(const char* id, float x, float y, float width, float height, bool& hovered,
                      bool& held);

    ScreenState state_ = ScreenState::Splash;
    bool movedThisFrame_ = false;
    bool dragging_ = false;
    bool widgetHovered_ = false;
    bool setupDone_ = false;
    int edition_ = 0;
    float grabOffsetX_ = 0.0f;
    float grabOffsetY_ = 0.0f;
    float progress_ = 0.0f;
    float splashTimer_ = 0.0f;
    float downloadingFade_ = 0.0f;
    bool downloadingFadesWindow_ = false;
    float requestFailedFade_ = 0.0f;
    bool requestFailedFadesWindow_ = false;
    std::chrono::steady_clock::time_point setupTime_{};
    bool assetsGivenUp_ = false;
    BackgroundCall manifestRequest_;
    bool manifestAccepted_ = false;  // written by the request's thread before it is done
    BackgroundCall logReport_;
    bool errorScreenTextChosen_ = false;
    std::string errorScreenText_;
    Slideshow slideshow_;
    std::shared_ptr<Texture> logo_;
    InterfaceAssets assets_;
};

}  // namespace vesk
