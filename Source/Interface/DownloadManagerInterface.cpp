// The controller's life cycle and screen flow: setup, the frame's UI window, the move from
// the splash to the download screens, and the two end states.
#include "DownloadManagerInterface.h"

#include <imgui.h>

#include <algorithm>
#include <exception>
#include <thread>

#include "Configuration.h"
#include "DownloadSystem/DownloadCore.h"
#include "Interface/CoreUI.h"
#include "Interface/IApplicationWindow.h"
#include "Interface/Texture.h"
#include "Interface/TitleBar.h"
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
    splash_.LoadLogo();
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
    drag_.BeginFrame();

    ImGui::PushFont(CoreUI::Get()->GetFont(2));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowPadding, ImVec2(0.0f, 0.0f));
    ImGui::PushStyleVar(ImGuiStyleVar_WindowRounding, 0.0f);
    ImGui::PushStyleVar(ImGuiStyleVar_WindowBorderSize, 1.0f);
    ImGui::SetNextWindowPos(ImVec2(0.0f, 0.0f), ImGuiCond_Always, ImVec2(0.0f, 0.0f));
    ImVec2 size(static_cast<float>(window->GetWidth()), static_cast<float>(window->GetHeight()));
    if (const auto& logo = splash_.Logo(); state_ == ScreenState::Splash && logo) {
        size = ImVec2(static_cast<float>(logo->GetWidth()), static_cast<float>(logo->GetHeight()));
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
            keepRunning = requestFailed_.Run(drag_);
            break;
    }
    drag_.Update(state_ != ScreenState::Splash);
    ImGui::End();
    ImGui::PopStyleVar(3);
    ImGui::PopFont();

    // Setup has been started; a report that Exit started meanwhile is still waited for.
    if (state_ == ScreenState::Downloading &&
        ScreenAfter(CurrentOutcome()) == WindowScreen::Closed && !logReport_.IsStarted()) {
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

WindowScreen DownloadManagerInterface::ScreenAfter(const EngineOutcome& outcome) {
    if (!outcome.manifestAnswered) {
        return WindowScreen::Splash;
    }
    if (!outcome.manifestAccepted) {
        return WindowScreen::RequestFailed;
    }
    if (!outcome.downloadFinished) {
        return WindowScreen::Progress;
    }
    return outcome.errorCount == 0 ? WindowScreen::Closed : WindowScreen::DownloadError;
}

EngineOutcome DownloadManagerInterface::CurrentOutcome() const {
    EngineOutcome outcome;
    outcome.manifestAnswered = manifestRequest_.IsStarted() && manifestRequest_.IsDone();
    // The request's thread writes the flag until the call is done.
    outcome.manifestAccepted = outcome.manifestAnswered && manifestAccepted_;
    // Before the download starts the engine counts as finished: only the downloading state
    // asks about it.
    outcome.downloadFinished =
        state_ == ScreenState::Downloading && GetDownloadCore()->IsFinished();
    outcome.errorCount = GetErrorCount();
    return outcome;
}

ProgressSnapshot DownloadManagerInterface::GetProgressSnapshot(bool withFigures) {
    ProgressSnapshot snapshot;
    const auto core = GetDownloadCore();
    const auto& manager = core->GetManager();
    if (!manager) {
        return snapshot;
    }
    snapshot.hasManager = true;
    snapshot.verifying = manager->IsVerifying();
    if (snapshot.verifying) {
        snapshot.verifyPercent = manager->GetVerifyPercent();
        snapshot.currentFile = manager->GetCurrentFileName();
        return snapshot;
    }
    if (withFigures) {
        snapshot.figuresRead = true;
        snapshot.folder = core->GetExecutableFolder();
        snapshot.totalBytes = manager->GetTotalBytes();
        snapshot.bytesDone = manager->GetDownloadedBytes();
        // The speed first: the remaining time reads it again at the same tick.
        snapshot.speed = core->GetSpeed();
        snapshot.remaining = core->GetRemainingTime();
        snapshot.progressPercent = manager->GetProgressPercent();
    }
    snapshot.paused = core->IsPaused();
    return snapshot;
}

void DownloadManagerInterface::RunSplash() {
    splash_.Advance(FrameTimer::Get().GetDeltaSeconds());
    if (manifestRequest_.IsStarted()) {
        if (manifestRequest_.IsDone()) {
            LeaveSplash();
            return;
        }
    } else if (splash_.IsOver(ProcessAssets())) {
        StartManifestRequest();
    }
    // The splash stays up while the request runs, so the window is drawn and answers.
    splash_.Draw();
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
    if (ScreenAfter(CurrentOutcome()) != WindowScreen::RequestFailed) {
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

bool DownloadManagerInterface::RunDownloading() {
    WindowFadeIn& fade = progress_.Fade();
    fade.Apply();
    slideshow_.Draw(assets_.GetMediaTextures(), true, fade.Alpha());
    bool keepRunning = true;
    if (ScreenAfter(CurrentOutcome()) == WindowScreen::DownloadError) {
        keepRunning = downloadError_.Draw(GetCoreTexture("logo_background"), drag_);
    } else {
        const float now = FrameTimer::Get().GetElapsedSeconds();
        progress_.Draw(GetProgressSnapshot(progress_.FiguresDue(now)), now,
                       GetCoreTexture("logo_background"), edition_, drag_,
                       [] { return GetDownloadCore()->TogglePause(); });
    }
    if (keepRunning) {
        keepRunning = !TitleBar::Draw(drag_);
    }
    fade.Advance();
    return keepRunning;
}

}  // namespace vesk
