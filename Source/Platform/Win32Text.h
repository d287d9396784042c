// Text helpers private to the Windows backends. UTF-16 is wchar_t on Windows, so paths
// pass to the W functions unchanged; narrow text (host names, headers, messages) is UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace Platform::Win32 {

// The W functions' form of a UTF-16 path. False (ERROR_INVALID_NAME) for an embedded
// zero or an unpaired surrogate, which would otherwise name another file.
bool ToNativePath(std::u16string_view path, std::wstring& native);

std::wstring Widen(std::u16string_view text);
std::u16string FromWide(std::wstring_view text);

// UTF-8 <-> UTF-16; malformed input becomes U+FFFD.
std::wstring WidenUtf8(std::string_view text);
std::string NarrowToUtf8(std::wstring_view text);

}  // namespace Platform::Win32
