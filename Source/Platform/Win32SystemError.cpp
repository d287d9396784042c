// Windows backend of SystemError.h: FormatMessageW over the system's message table and,
// for the Internet error range, wininet.dll's own; GetLastError as the last error.
#include "Platform/SystemError.h"

#include <windows.h>

#include "Platform/Win32Text.h"

namespace Platform {

namespace {

constexpr DWORD InternetErrorBase = 12000;
constexpr DWORD InternetErrorLast = 12999;

constexpr WORD EnglishUnitedStates = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);
constexpr WORD DefaultLanguage = 0;

std::wstring FormatFrom(DWORD flags, HMODULE module, DWORD number, WORD language) {
    wchar_t* text = nullptr;
    const DWORD length =
        FormatMessageW(flags | FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_IGNORE_INSERTS,
                       module, number, language, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::wstring result;
    if (length > 0 && text != nullptr) {
        result.assign(text, length);
    }
    if (text != nullptr) {
        LocalFree(text);
    }
    return result;
}

}  // namespace

// The text as FormatMessage gives it, its closing line break included: the log shows it
// that way. English first, so that logs read alike on every machine, then the system's own
// language, then (for the Internet numbers) wininet.dll's message table.
std::string SystemErrorText(int errorNumber) {
    const auto number = static_cast<DWORD>(errorNumber);
    std::wstring text =
        FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, number, EnglishUnitedStates);
    if (text.empty()) {
        text = FormatFrom(FORMAT_MESSAGE_FROM_SYSTEM, nullptr, number, DefaultLanguage);
    }
    if (text.empty() && number >= InternetErrorBase && number <= InternetErrorLast) {
        if (HMODULE wininet = GetModuleHandleW(L"wininet.dll")) {
            text = FormatFrom(FORMAT_MESSAGE_FROM_HMODULE, wininet, number, DefaultLanguage);
        }
    }
    return Win32::NarrowToUtf8(text);
}

int LastSystemError() {
    return static_cast<int>(GetLastError());
}

FileFault ClassifyFileError(int errorNumber) {
    switch (static_cast<DWORD>(errorNumber)) {
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
        case ERROR_FILE_TOO_LARGE:
            return FileFault::DiskFull;
        // Share modes: a virus scanner reading a just-closed file, a setup still running.
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
            return FileFault::InUse;
        default:
            return FileFault::CannotWrite;
    }
}

}  // namespace Platform
