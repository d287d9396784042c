// The download engine's facade: names from the program's path, and speed figures.
#include "DownloadSystem/DownloadCore.h"

#include "Configuration.h"
#include "DownloadSystem/TickCount.h"
#include "Platform/Paths.h"
#include "Support/Formatting.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {

using vesk::StringUtils;

DownloadCore::DownloadCore() : manager_(std::make_shared<DownloadManager>()) {
    manager_->SetWorkFolder(GetWorkFolder());
}

DownloadCore::~DownloadCore() {
    if (manager_) {
        manager_->Shutdown();
    }
}

bool DownloadCore::RequestDownload(std::u16string& errorText) {
    errorText.clear();
    if (!manager_) {
        return false;
    }
    std::u16string releaseName = GetReleaseName();
    StringUtils::ReplaceAll(releaseName, u".exe", u"");
    const bool ok = manager_->RequestDownload(releaseName, errorText);
    if (!errorText.empty()) {
        errorText = u"There is a problem with the connection.\r\nRead " +
                    std::u16string(Configuration::ConnectionFaqPage) + u" for solutions.";
    }
    return ok && errorText.empty();
}

void DownloadCore::StartDownload() {
    if (manager_) {
        manager_->StartDownload(GetFileListName(), u"", GetExecutableFolder(), GetWorkFolder());
    }
}

bool DownloadCore::TogglePause() {
    if (manager_) {
        manager_->TogglePauseAll();
        paused_ = !paused_;
    }
    return paused_;
}

void DownloadCore::PostLogFile() {
    if (manager_) {
        manager_->PostLogFile();
    }
}

bool DownloadCore::IsFinished() const {
    return manager_ && !manager_->IsRunning();
}

std::uint32_t DownloadCore::GetSpeed() {
    if (!manager_) {
        return 0;
    }
    return speed_.Sample(TickCount(), paused_, manager_->GetBytesReceived());
}

RemainingTime DownloadCore::GetRemainingTime() {
    if (!manager_) {
        return {};
    }
    const std::uint64_t counted = manager_->GetSessionBytes();
    const std::uint64_t done = manager_->GetDownloadedBytes();
    const std::uint64_t total = manager_->GetTotalBytes();
    if (counted == 0 || total == 0) {
        return {};
    }
    return ComputeRemainingTime(done, total, GetSpeed());
}

namespace {
std::u16string ExecutableFileName() {
    const std::u16string path = Platform::Paths::ExecutablePath();
    const std::size_t slash = path.find_last_of(u"/\\");
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}
}  // namespace

std::u16string DownloadCore::GetExecutableFolder() {
    const std::u16string path = Platform::Paths::ExecutablePath();
    const std::size_t slash = path.find_last_of(u"/\\");
    return slash == std::u16string::npos ? std::u16string() : path.substr(0, slash);
}

std::u16string DownloadCore::GetReleaseName() {
    std::u16string name = ExecutableFileName();
    if (name.ends_with(u".exe")) {
        name.resize(name.size() - 4);
    }
    const std::size_t underscore = name.rfind(u'_');
    if (underscore != std::u16string::npos) {
        name.resize(underscore);
    }
    return name;
}

std::u16string DownloadCore::GetWorkFolder() {
    std::u16string folder = Platform::Paths::LocalAppDataFolder() + u"/" + GetReleaseName();
    StringUtils::ReplaceAll(folder, u"\\", u"/");
    return folder;
}

std::u16string DownloadCore::GetFileListName() {
    return GetReleaseName() + u".txt";
}

std::u16string DownloadCore::GetVersionText(bool withMinor) {
    const std::vector<std::string> pieces =
        vesk::SplitView(vesk::WideToUtf8(GetReleaseName()), "_");
    if (pieces.size() < 3) {
        return {};
    }
    std::string text = pieces[1];
    if (withMinor) {
        text += "." + pieces[2];
    }
    return vesk::Utf8ToWide(text);
}

}  // namespace DownloadSystem
