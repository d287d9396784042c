// Windows backend of Shell.h: ShellExecuteW with "open" for pages and programs and
// "explore" for folders. The shell's small result codes become system error numbers.
#include "Platform/Shell.h"

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include "Platform/Win32Text.h"

namespace Platform::Shell {

namespace {

DWORD ErrorFromShellResult(INT_PTR result) {
    switch (result) {
        case 0:
        case SE_ERR_OOM:
            return ERROR_NOT_ENOUGH_MEMORY;
        case SE_ERR_FNF:
            return ERROR_FILE_NOT_FOUND;
        case SE_ERR_PNF:
            return ERROR_PATH_NOT_FOUND;
        case SE_ERR_ACCESSDENIED:
            return ERROR_ACCESS_DENIED;
        case ERROR_BAD_FORMAT:
            return ERROR_BAD_FORMAT;
        case SE_ERR_SHARE:
            return ERROR_SHARING_VIOLATION;
        case SE_ERR_ASSOCINCOMPLETE:
        case SE_ERR_NOASSOC:
            return ERROR_NO_ASSOCIATION;
        case SE_ERR_DDETIMEOUT:
        case SE_ERR_DDEFAIL:
        case SE_ERR_DDEBUSY:
            return ERROR_DDE_FAIL;
        case SE_ERR_DLLNOTFOUND:
            return ERROR_DLL_NOT_FOUND;
        default:
            return ERROR_GEN_FAILURE;
    }
}

// The shell may use COM; each call brings its own apartment when the thread has none.
bool Execute(const wchar_t* verb, const std::wstring& file, const wchar_t* directory) {
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    const INT_PTR result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, verb, file.c_str(), nullptr, directory, SW_SHOWNORMAL));
    if (SUCCEEDED(com)) {
        CoUninitialize();
    }
    if (result > 32) {
        return true;
    }
    SetLastError(ErrorFromShellResult(result));
    return false;
}

bool IsRelative(const std::wstring& path) {
    const bool drive = path.size() >= 2 && path[1] == L':';
    const bool rooted = !path.empty() && (path[0] == L'\\' || path[0] == L'/');
    return !drive && !rooted;
}

}  // namespace

bool OpenWebPage(const std::u16string& address) {
    std::wstring native;
    if (!IsWebAddress(address) || !Win32::ToNativePath(address, native)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return Execute(L"open", native, nullptr);
}

bool OpenFolder(const std::u16string& folder) {
    std::wstring native;
    if (!Win32::ToNativePath(folder, native)) {
        return false;
    }
    return Execute(L"explore", native, nullptr);
}

bool StartProgram(const std::u16string& program, const std::u16string& workingDirectory) {
    std::wstring file;
    std::wstring directory;
    if (!Win32::ToNativePath(program, file) || !Win32::ToNativePath(workingDirectory, directory)) {
        return false;
    }
    // A relative name is taken from the working folder and never searched on PATH.
    if (IsRelative(file)) {
        std::wstring base = directory;
        if (base.empty()) {
            base.resize(MAX_PATH);
            base.resize(GetCurrentDirectoryW(MAX_PATH, base.data()));
        }
        if (!base.empty() && base.back() != L'\\' && base.back() != L'/') {
            base += L'\\';
        }
        file = base + file;
    }
    const DWORD attributes = GetFileAttributesW(file.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        return false;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (!directory.empty()) {
        const DWORD folder = GetFileAttributesW(directory.c_str());
        if (folder == INVALID_FILE_ATTRIBUTES || !(folder & FILE_ATTRIBUTE_DIRECTORY)) {
            SetLastError(ERROR_PATH_NOT_FOUND);
            return false;
        }
    }
    return Execute(L"open", file, directory.empty() ? nullptr : directory.c_str());
}

}  // namespace Platform::Shell
