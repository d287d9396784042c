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

namespace Platform::Shell {

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
