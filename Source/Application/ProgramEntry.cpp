// The program's run: configures the application window, hands its frames to the interface
// controller, runs the frame loop and ends the process as soon as the loop is over.
#include "Application/ProgramEntry.h"

#include <cstdio>
#include <cstdlib>

#include "Application/Application.h"
#include "Interface/DownloadManagerInterface.h"

namespace vesk {

namespace {

// Threads of the interface or the download engine may still be running when the loop
// ends. They are never joined: the process ends here without running static destructors,
// which would otherwise tear down objects those threads may still be using.
[[noreturn]] void EndProcess(int exitCode) {
    std::fflush(nullptr);
    std::_Exit(exitCode);
}

}  // namespace

void RunProgram() {
    Application& application = GetApplication();
    application.SetTitle("Sorvan Download Manager");
    application.SetWindowMode(WindowMode::Borderless);
    application.SetSize(1200, 640);
    SetApplicationWindow(&application);
    application.SetCreatedHandler([] { DownloadManagerInterface::Get()->Setup(1); });
    application.SetDrawFrameHandler(
        [] { return DownloadManagerInterface::Get()->DrawMainWindow(); });

    if (application.Create()) {
        application.Run();
    }
    application.Shutdown();
    SetApplicationWindow(nullptr);
    EndProcess(0);
}

}  // namespace vesk
