#include "DownloadSystem/SetupLauncher.h"

#include "Platform/Files.h"
#include "Platform/Shell.h"
#include "Platform/SystemError.h"
#include "Support/ErrorLog.h"

namespace DownloadSystem {

void SetupLauncher::NoteListedFile(const std::u16string& localPath) {
    if (localPath.ends_with(u".exe")) {
        setupPath_ = localPath;
    }
}

void SetupLauncher::Launch(const std::u16string& downloadFolder,
                           const std::function<void()>& beforeStart) const {
    if (setupPath_.empty()) {
        constexpr char missing[] = "Failed to run setup. Setup executable is missing.";
        VESK_REPORT_ERROR(missing, vesk::ErrorNumber::SetupMissing);
        vesk::SetUserMessage(missing);
        return;
    }
    if (vesk::HasLoggedErrors()) {
        VESK_LOG_FAILURE(
            "The download contained errors, but they seem to be resolved. Starting setup",
            vesk::ErrorNumber::ErrorsResolved);
    }
    beforeStart();

    // The program passed verification; downloaded files carry no execute permission.
    bool started = Platform::Files::MakeExecutable(setupPath_);
    int errorNumber = started ? 0 : Platform::LastSystemError();
    if (started) {
        started = Platform::Shell::StartProgram(setupPath_, downloadFolder);
        errorNumber = started ? 0 : Platform::LastSystemError();
    }
    if (started) {
        return;
    }
    const std::u16string text =
        u"Unable to start setup. You can start it manually by executing the file " + setupPath_ +
        u" in folder " + downloadFolder + u". The error message is: ";
    const std::u16string message = vesk::FormatErrorText(text, errorNumber, __FILE__, __LINE__);
    vesk::ReportError(message, 0, "", 0);
    vesk::SetUserMessage(message);
    if (!Platform::Shell::OpenFolder(downloadFolder)) {
        VESK_LOG_FAILURE(u"DownloadManager::LaunchSetup unable to open " + downloadFolder,
                         Platform::LastSystemError());
    }
}

}  // namespace DownloadSystem
