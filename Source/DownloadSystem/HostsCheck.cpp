#include "DownloadSystem/HostsCheck.h"

#include <algorithm>
#include <string>
#include <vector>

#include "Configuration.h"
#include "Platform/Files.h"
#include "Platform/Paths.h"
#include "Platform/SystemError.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {

namespace {
// A hosts file is small; a larger one is read only this far.
constexpr std::uint64_t MaxHostsBytes = 16ull * 1024 * 1024;
}  // namespace

int HostsCheck::Check() const {
    const std::u16string path = Platform::Paths::HostsFilePath();
    if (path.empty()) {
        VESK_REPORT_ERROR("CheckHosts failed", Platform::LastSystemError());
        return -1;
    }
    if (!Platform::Files::Exists(path)) {
        VESK_REPORT_ERROR(u"PathFileExists failed for: " + path, Platform::LastSystemError());
        return -1;
    }
    Platform::File file = Platform::File::OpenForReading(path);
    if (!file.IsOpen()) {
        VESK_REPORT_ERROR(u"Unable to open: " + path, Platform::LastSystemError());
        return -1;
    }
    std::uint64_t size = 0;
    if (!file.Size(size)) {
        VESK_REPORT_ERROR(u"GetFileSize failed: " + path, Platform::LastSystemError());
        return -1;
    }
    std::vector<char> buffer(static_cast<std::size_t>(std::min(size, MaxHostsBytes)));
    std::size_t got = 0;
    if (!buffer.empty() && !file.Read(buffer.data(), buffer.size(), got)) {
        VESK_REPORT_ERROR(u"ReadFile failed: " + path, Platform::LastSystemError());
        return -1;
    }
    if (got == 0) {
        return 0;
    }
    // The text ends at its first zero byte; comment lines are searched too.
    std::string_view text(buffer.data(), got);
    text = text.substr(0, text.find('\0'));
    for (std::u16string_view wide : Configuration::ServiceDomainFragments) {
        const std::string fragment = vesk::StringUtils::ToNarrow(wide);
        if (!fragment.empty() && text.find(fragment) != std::string_view::npos) {
            VESK_REPORT_ERROR("DownloadManager::CheckHosts Sorvan domains found",
                              vesk::ErrorNumber::HostsRedirected);
            return 1;
        }
    }
    return 0;
}

}  // namespace DownloadSystem
