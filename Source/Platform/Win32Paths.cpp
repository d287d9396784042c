// Windows backend of Paths.h: GetModuleFileNameW, SHGetFolderPathW(CSIDL_LOCAL_APPDATA),
// the system directory's drivers\etc\hosts.
#include <windows.h>

#include <shlobj.h>

#include "Platform/PathsBackend.h"
#include "Platform/Win32Text.h"

namespace Platform::Paths {

namespace {

std::u16string WithoutTrailingSeparator(std::wstring path) {
    // "C:\" keeps its separator: without it the text names the drive's current folder.
    while (path.size() > 3 && (path.back() == L'\\' || path.back() == L'/')) {
        path.pop_back();
    }
    return Win32::FromWide(path);
}

}  // namespace

std::u16string SystemExecutablePath() {
    // Long paths can exceed MAX_PATH; the buffer grows until the name fits.
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) {
            return {};
        }
        if (length < buffer.size()) {
            buffer.resize(length);
            return Win32::FromWide(buffer);
        }
        if (buffer.size() >= 32768) {
            SetLastError(ERROR_INSUFFICIENT_BUFFER);
            return {};
        }
        buffer.resize(buffer.size() * 2);
    }
}

std::u16string SystemLocalAppDataFolder() {
    wchar_t buffer[MAX_PATH] = {};
    const HRESULT result =
        SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer);
    if (FAILED(result)) {
        SetLastError(HRESULT_FACILITY(result) == FACILITY_WIN32 ? HRESULT_CODE(result)
                                                                : ERROR_PATH_NOT_FOUND);
        return {};
    }
    return WithoutTrailingSeparator(buffer);
}

std::u16string SystemHostsFilePath() {
    wchar_t buffer[MAX_PATH] = {};
    const UINT length = GetSystemDirectoryW(buffer, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) {
        return {};
    }
    return WithoutTrailingSeparator(buffer) + u"\\drivers\\etc\\hosts";
}

}  // namespace Platform::Paths
