// The user's desktop: opening a web page or a folder in the user's own tools, and
// starting a program. Every call returns once the program is started; none waits
// for it to finish, and finished programs are reaped in the background.
//
// Writing another backend: Windows uses ShellExecuteW with the verbs "open" (pages,
// programs) and "explore" (folders). A failure to start returns false and leaves an
// error number for LastSystemError() (SystemError.h); the Windows backend maps the
// shell's result codes to system error numbers.
#pragma once

#include <string>
#include <string_view>

namespace Platform::Shell {

// True for an http:// or https:// address (the scheme in any letter case): the only
// texts OpenWebPage hands to the system.
inline bool IsWebAddress(std::u16string_view address) {
    const auto startsWith = [address](std::u16string_view scheme) {
        if (address.size() < scheme.size())
            return false;
        for (std::size_t i = 0; i < scheme.size(); ++i) {
            char16_t c = address[i];
            if (c >= u'A' && c <= u'Z')
                c = static_cast<char16_t>(c - u'A' + u'a');
            if (c != scheme[i])
                return false;
        }
        return true;
    };
    return startsWith(u"http://") || startsWith(u"https://");
}

// Opens an http:// or https:// address in the user's browser (Linux: "xdg-open
// <address>", found on PATH). Any other text is refused with EINVAL, so this call
// never starts a local file. ENOENT when xdg-open is not on PATH.
bool OpenWebPage(const std::u16string& address);

// Opens a folder in the user's file manager (Linux: "xdg-open <folder>").
bool OpenFolder(const std::u16string& folder);

// Starts the program file `program` (a path, not searched on PATH; a relative one
// is taken from the working folder) with no arguments, in `workingDirectory`
// (empty: this process's current folder). The
// program must be executable (see Files::MakeExecutable). Failures of the start
// itself are reported: a missing program or folder gives ENOENT, a program without
// execute permission EACCES, a file the system cannot run ENOEXEC.
bool StartProgram(const std::u16string& program, const std::u16string& workingDirectory);

}  // namespace Platform::Shell
