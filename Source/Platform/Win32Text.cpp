// UTF-16/UTF-8 conversions for the Windows backends (MultiByteToWideChar and back).
#include "Platform/Win32Text.h"

#include <windows.h>

namespace Platform::Win32 {

bool ToNativePath(std::u16string_view path, std::wstring& native) {
    for (std::size_t i = 0; i < path.size(); ++i) {
        const char16_t unit = path[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        const bool pairedHigh =
            high && i + 1 < path.size() && path[i + 1] >= 0xDC00 && path[i + 1] <= 0xDFFF;
        if (unit == 0 || low || (high && !pairedHigh)) {
            SetLastError(ERROR_INVALID_NAME);
            return false;
        }
        if (pairedHigh) {
            ++i;
        }
    }
    native = Widen(path);
    return true;
}

std::wstring Widen(std::u16string_view text) {
    return std::wstring(text.begin(), text.end());
}

std::u16string FromWide(std::wstring_view text) {
    return std::u16string(text.begin(), text.end());
}

std::wstring WidenUtf8(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(length > 0 ? length : 0), L'\0');
    if (length > 0) {
        MultiByteToWideChar(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), wide.data(),
                            length);
    }
    return wide;
}

std::string NarrowToUtf8(std::wstring_view text) {
    if (text.empty()) {
        return {};
    }
    const int length = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                           nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(length > 0 ? length : 0), '\0');
    if (length > 0) {
        WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), narrow.data(),
                            length, nullptr, nullptr);
    }
    return narrow;
}

}  // namespace Platform::Win32
