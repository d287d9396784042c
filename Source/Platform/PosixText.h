// Text helpers private to the Linux backends: UTF-16 <-> UTF-8 for file names and
// paths. The platform layer sits below the support library, so it keeps its own.
#pragma once

#include <string>
#include <string_view>

namespace Platform::Posix {

// UTF-8 form of a UTF-16 path for the system calls. Returns false (errno EINVAL)
// for an unpaired surrogate or an embedded zero, which would otherwise name a
// different file than the caller asked for.
bool ToNativePath(std::u16string_view path, std::string& native);

// UTF-16 form of UTF-8 text from the system; malformed bytes become U+FFFD.
std::u16string FromNative(std::string_view text);

}  // namespace Platform::Posix
