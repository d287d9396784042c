// The end of a verified download: start the release's setup program in the download
// folder, or tell the user where it is and open the folder for them.
#include <string>

#include "DownloadSystem/DownloadManager.h"
#include "Platform/Files.h"
#include "Platform/Shell.h"
#include "Platform/SystemError.h"
#include "Support/ErrorLog.h"

namespace DownloadSystem {

void DownloadManager::LaunchSetup() {
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
    watcher_.Stop(500);

    // The program passed verification; downloaded files carry no execute permission.
    bool started = Platform::Files::MakeExecutable(setupPath_);
    int errorNumber = started ? 0 : Platform::LastSystemError();
    if (started) {
        started = Platform::Shell::StartProgram(setupPath_, downloadFolder_);
        errorNumber = started ? 0 : Platform::LastSystemError();
    }
    if (started) {
        return;
    }
    const std::u16string text =
        u"Unable to start setup. You can start it manually by executing the file " + setupPath_ +
        u" in folder " + downloadFolder_ + u". The error message is: ";
    const std::u16string message = vesk::FormatErrorText(text, errorNumber, __FILE__, __LINE__);
    vesk::ReportError(message, 0, "", 0);
    vesk::SetUserMessage(message);
    if (!Platform::Shell::OpenFolder(downloadFolder_)) {
        VESK_LOG_FAILURE(u"DownloadManager::LaunchSetup unable to open " + downloadFolder_,
                         Platform::LastSystemError());
    }
}

}  // namespace DownloadSystem
