// The controller's life cycle and screen flow: setup, the frame's UI window, the move from
// the splash to the download screens, the two end states, and dragging the window.
#include "DownloadManagerInterface.h"

#include <imgui.h>

#include <algorithm>
#include <exception>
#include <thread>

#include "Configuration.h"
#include "DownloadSystem/DownloadCore.h"
#include "Interface/CoreUI.h"
#include "Interface/ErrorScreenText.h"
#include "Interface/IApplicationWindow.h"
#include "Interface/Logo.h"
#include "Interface/SplashScreen.h"
#include "Interface/Texture.h"
#include "Platform/Shell.h"
#include "Platform/SystemError.h"
#include "Support/ConsoleLog.h"
#include "Support/ErrorLog.h"
#include "Support/FrameTimer.h"

namespace vesk {

std::shared_ptr<DownloadSystem::DownloadCore> GetDownloadCore() {
    static const auto core = std::make_shared<DownloadSystem::DownloadCore>();
    return core;
}

std::shared_ptr<DownloadManagerInterface> DownloadManagerInterface::Get() {
    static const auto instance = std::make_shared<DownloadManagerInterface>();
    return instance;
}

bool DownloadManagerInterface::Setup(int edition) {
    if (setupDone_) {
        return true;
    }
    edition_ = edition;
    setupDone_ = true;
    setupTime_ = std::chrono::steady_clock::now();
    logo_ = CreateTexture("logo", Embedded::LogoPixels, Embedded::LogoWidth, Embedded::LogoHeight);
    // The thread keeps the controller alive; it is never joined and ends with the process
    // if the program ends first.
    std::thread([self = Get()] { self->Init(); }).detach();
    return true;
}

void DownloadManagerInterface::Init() {
    try {
        FetchInterfaceAssets(assets_, std::u16string(Configuration::InterfaceHost),
                             DownloadSystem::DownloadCore::GetVersionText(false));
    } catch (const std::exception& error) {
        LogFailure(std::string("DownloadManagerInterface::Init: Obviously a major malfunction. "
                               "Message: ") +
                       error.what(),
                   0, __FILE__, __LINE__);
        // The splash waits for this flag: it must be set whatever happened.
        assets_.MarkFetched();
    }
}

bool DownloadManagerInterface::ProcessAssets() {
    if (!assetsGivenUp_ &&
        std::chrono::steady_clock::now() - setupTime_ > InterfacePicturesDeadline) {
        assetsGivenUp_ = true;
        if (assets_.GiveUp()) {
            VESK_LOG_INFO(
                "DownloadManagerInterface: the interface pictures took too long; "
                "going on without them");
        }
    }
    return assets_.Process(LoadTexture);
}

bool DownloadManagerInterface::IsWaitingForServer() const {
    return (manifestRequest_.IsStarted() && !manifestRequest_.IsDone()) ||
           (logReport_.IsStarted() && !logReport_.IsDone());
}

bool DownloadManagerInterface::DrawMainWindow() {
    IApplicationWindow* window = GetApplicationWindow();
    if (!CoreUI::Get()->IsInitialized() || window == nullptr) {
        return false;
    }
    bool keepRunning = true;
    widgetHovered_ = false;

    ImGui::PushFont(CoreUI::Get()->GetFont(2));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 1.0f);
    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f), ImGuiCond_Always, ImVec2(0.0f, 0.0f));
    ImVec2 size(static_cast<float>(window->GetWidth()), static_cast<float>(window->GetHeight()));
    if (state_ == ScreenState::Splash && logo_) {
        size =
            ImVec2(static_cast<float>(logo_->GetWidth()), static_cast<float>(logo_->GetHeight()));
    }
    ImGui::SetNextWindowSize(size, ImGuiCond_Always);
    ImGui::Begin("##main_window", nullptr,
                 ImGuiWindowFlags_NoTitleBar | ImGuiWindowFlags_NoResize | ImGuiWindowFlags_NoMove |
                     ImGuiWindowFlags_NoScrollbar | ImGuiWindowFlags_NoCollapse |
                     ImGuiWindowFlags_NoBringToFrontOnFocus);
    switch (state_) {
        case ScreenState::Splash:
            RunSplash();
            break;
        case ScreenState::Downloading:
            keepRunning = RunDownloading();
            break;
        case ScreenState::RequestFailed:
            keepRunning = RunRequestFailed();
            break;
    }
    HandleWindowMove();
    ImGui::End();
    ImGui::PopStyleVar(3);
    ImGui::PopFont();

    const auto core = GetDownloadCore();
    // Setup has been started; a report that Exit started meanwhile is still waited for.
    if (state_ == ScreenState::Downloading && core->IsFinished() && GetErrorCount() == 0 &&
        !logReport_.IsStarted()) {
        return false;
    }
    if (keepRunning && !logReport_.IsStarted()) {
        return true;
    }
    return KeepOpenForLogReport();
}

bool DownloadManagerInterface::KeepOpenForLogReport() {
    if (!logReport_.IsStarted()) {
        // The report's own attempts and time-outs may take minutes against a silent service;
        // the window keeps drawing meanwhile and closing it ends the program at once.
        logReport_.Start([] { GetDownloadCore()->PostLogFile(); });
    }
    if (logReport_.IsDone()) {
        return false;
    }
    if (logReport_.Elapsed() > LogReportDeadline) {
        VESK_LOG_INFO("DownloadManagerInterface: the log report did not finish in time");
        return false;
    }
    return true;
}

void DownloadManagerInterface::RunSplash() {
    splashTimer_ = AdvanceSplashTimer(splashTimer_, FrameTimer::Get().GetDeltaSeconds());
    if (manifestRequest_.IsStarted()) {
        if (manifestRequest_.IsDone()) {
            LeaveSplash();
            return;
        }
    } else if (IsSplashOver(splashTimer_, ProcessAssets())) {
        StartManifestRequest();
    }
    // The splash stays up while the request runs, so the window is drawn and answers.
    DrawSplash(splashTimer_);
}

void DownloadManagerInterface::StartManifestRequest() {
    // Only the request's thread touches the core until it is done; the flag it writes is
    // published by the call's done state.
    manifestRequest_.Start([this] {
        std::u16string errorText;
        manifestAccepted_ = GetDownloadCore()->RequestDownload(errorText);
    });
}

void DownloadManagerInterface::LeaveSplash() {
    IApplicationWindow* window = GetApplicationWindow();
    window->SetOpacity(0.0f);
    const auto core = GetDownloadCore();
    // The download screens fade the window back in either way.
    if (manifestAccepted_) {
        core->StartDownload();
        state_ = ScreenState::Downloading;
    } else {
        state_ = ScreenState::RequestFailed;
        if (!Platform::Shell::OpenWebPage(std::u16string(Configuration::SupportArticlePage))) {
            VESK_LOG_FAILURE("DownloadManagerInterface: unable to open the support page",
                             Platform::LastSystemError());
        }
    }
    window->SetSize(1200, 640);
    window->Center();
}

// Fades the window in over 100 frames when it starts out transparent.
static void FadeWindow(float& fade, bool& fadesWindow) {
    IApplicationWindow* window = GetApplicationWindow();
    if (fade == 0.0f) {
        fadesWindow = window->GetOpacity() != 1.0f;
    }
    // Once faded in, the opacity is left alone: every change is a round trip to the display.
    if (fadesWindow && fade < 1.0f) {
        window->SetOpacity(fade);
    } else if (fadesWindow) {
        window->SetOpacity(1.0f);
        fadesWindow = false;
    }
}

bool DownloadManagerInterface::RunDownloading() {
    FadeWindow(downloadingFade_, downloadingFadesWindow_);
    DrawBackground(true, downloadingFade_);
    bool keepRunning = true;
    if (GetDownloadCore()->IsFinished() && GetErrorCount() != 0) {
        keepRunning = DrawDownloadErrorScreen();
    } else {
        DrawProgress(downloadingFade_);
    }
    if (keepRunning) {
        keepRunning = !DrawTitleButtons();
    }
    downloadingFade_ = std::min(downloadingFade_ + 0.01f, 1.0f);
    return keepRunning;
}

bool DownloadManagerInterface::RunRequestFailed() {
    FadeWindow(requestFailedFade_, requestFailedFadesWindow_);
    bool keepRunning = DrawRequestFailedScreen();
    if (keepRunning) {
        keepRunning = !DrawTitleButtons();
    }
    requestFailedFade_ = std::min(requestFailedFade_ + 0.01f, 1.0f);
    return keepRunning;
}

void DownloadManagerInterface::HandleWindowMove() {
    if (state_ == ScreenState::Splash) {
        movedThisFrame_ = false;
        return;
    }
    const ImGuiIO& io = ImGui::GetIO();
    if (ImGui::IsMouseClicked(ImGuiMouseButton_Left) && ImGui::IsWindowHovered() &&
        !widgetHovered_) {
        grabOffsetX_ = io.MousePos.x;
        grabOffsetY_ = io.MousePos.y;
        dragging_ = true;
        LogMessage("activate moving %u", static_cast<unsigned>(FrameTimer::Get().GetFrameCount()));
    }
    if (!ImGui::IsAnyMouseDown()) {
        dragging_ = false;
    }
    if (ImGui::IsMouseDown(ImGuiMouseButton_Left) && dragging_ && !widgetHovered_) {
        int x = 0;
        int y = 0;
        if (!GetApplicationWindow()->GetCursorScreenPosition(x, y)) {
            return;
        }
        GetApplicationWindow()->SetPosition(x - static_cast<int>(grabOffsetX_),
                                            y - static_cast<int>(grabOffsetY_));
        movedThisFrame_ = true;
        return;
    }
    movedThisFrame_ = false;
}

}  // namespace vesk
