// The interface controller: the one full-window UI window drawn every frame and its screen
// flow (logo splash while the interface pictures load, the manifest request, then the
// progress or download error screen, or the request-failed screen), and the only link to
// the download engine. The screens, the title bar and the window's dragging are parts it
// owns and draws. UI thread only, except Init, which is the asset thread's body.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "Interface/BackgroundCall.h"
#include "Interface/DownloadErrorScreen.h"
#include "Interface/InterfaceAssets.h"
#include "Interface/ProgressScreen.h"
#include "Interface/ProgressSnapshot.h"
#include "Interface/RequestFailedScreen.h"
#include "Interface/Slideshow.h"
#include "Interface/SplashScreen.h"
#include "Interface/WindowDrag.h"

namespace DownloadSystem {
class DownloadCore;
}

namespace vesk {

class Texture;

// The one download engine facade of the process, created on first use.
std::shared_ptr<DownloadSystem::DownloadCore> GetDownloadCore();

// After Exit the window stays this long at most for the log report to be sent, so the
// process ends in time whatever the service does.
inline constexpr std::chrono::seconds LogReportDeadline{10};

enum class ScreenState { Splash, Downloading, RequestFailed };

// What the engine has told the window so far.
struct EngineOutcome {
    bool manifestAnswered = false;  // the manifest request has ended
    bool manifestAccepted = false;
    bool downloadFinished = false;  // the download was started and has ended (either way)
    std::size_t errorCount = 0;     // errors logged so far
};

// The screen the window shows after an outcome; Closed: the window closes (setup runs).
enum class WindowScreen { Splash, Progress, DownloadError, RequestFailed, Closed };

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

    // The screen flow's rule: the splash until the manifest request has ended, the
    // request-failed screen when it was refused, then the progress screen until the
    // download ends, and then the error screen when errors were logged; without them the
    // window closes.
    static WindowScreen ScreenAfter(const EngineOutcome& outcome);

    // The progress screen's figures from the engine, in one go; the table's figures only
    // when `withFigures` (reading the speed advances its meter).
    ProgressSnapshot GetProgressSnapshot(bool withFigures);

private:
    void RunSplash();
    void StartManifestRequest();
    void LeaveSplash();
    // After Exit: starts the log report once; true while the window is to stay open for it.
    bool KeepOpenForLogReport();
    bool RunDownloading();
    // The outcome as the engine reports it now, once the manifest was answered.
    EngineOutcome CurrentOutcome() const;

    ScreenState state_ = ScreenState::Splash;
    bool setupDone_ = false;
    int edition_ = 0;
    std::chrono::steady_clock::time_point setupTime_{};
    bool assetsGivenUp_ = false;
    BackgroundCall manifestRequest_;
    bool manifestAccepted_ = false;  // written by the request's thread before it is done
    BackgroundCall logReport_;
    WindowDrag drag_;
    SplashScreen splash_;
    Slideshow slideshow_;
    ProgressScreen progress_;
    DownloadErrorScreen downloadError_;
    RequestFailedScreen requestFailed_;
    InterfaceAssets assets_;
};

}  // namespace vesk
