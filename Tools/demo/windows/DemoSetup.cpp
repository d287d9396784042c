// Setup program of the demo release for Windows: leaves a marker file next to itself that
// says when it ran, so a run of the download manager can show that setup was started.
#include <windows.h>

#include <string>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    std::wstring path(MAX_PATH, L'\0');
    DWORD length = 0;
    while ((length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()))) ==
           path.size()) {
        path.resize(path.size() * 2);
    }
    if (length == 0) {
        return 1;
    }
    path.resize(length);
    path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"setup-ran.txt";

    SYSTEMTIME now{};
    GetSystemTime(&now);
    char text[64];
    const int size = wsprintfA(text, "setup ran at %04u-%02u-%02uT%02u:%02u:%02uZ\r\n", now.wYear,
                               now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        return 1;
    }
    DWORD written = 0;
    const bool ok = WriteFile(file, text, static_cast<DWORD>(size), &written, nullptr) &&
                    written == static_cast<DWORD>(size);
    return CloseHandle(file) && ok ? 0 : 1;
}
