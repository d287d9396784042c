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
    return assets_.Process(LoadTexture);
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
    if (state_ == ScreenState::Downloading && core->IsFinished() && GetErrorCount() == 0) {
        return false;  // setup has been started
    }
    if (keepRunning) {
        return true;
    }
    core->PostLogFile();
    return false;
}

void DownloadManagerInterface::RunSplash() {
    splashTimer_ = AdvanceSplashTimer(splashTimer_, FrameTimer::Get().GetDeltaSeconds());
    const bool ready = ProcessAssets();
    if (IsSplashOver(splashTimer_, ready)) {
        LeaveSplash();
    } else {
        DrawSplash(splashTimer_);
    }
}

void DownloadManagerInterface::LeaveSplash() {
    IApplicationWindow* window = GetApplicationWindow();
    window->SetOpacity(0.0f);
    const auto core = GetDownloadCore();
    std::u16string errorText;
    // Blocks this thread until the service answered or the request client gave up; the
    // download screens fade the window back in either way.
    if (core->RequestDownload(errorText)) {
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
