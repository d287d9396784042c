// Well-known paths: the running program's own file, the per-user local application
// data folder, and the system's hosts file.
//
// Writing another backend: answer each question from the system (Windows:
// GetModuleFileNameW, SHGetFolderPathW with CSIDL_LOCAL_APPDATA, the system
// directory + "\drivers\etc\hosts"). On failure return an empty text and leave the
// error number for LastSystemError() (SystemError.h). Paths come back with the
// platform's own separator ("/" on Linux, "\" on Windows) and without a trailing one.
//
// Test seam: the Override* setters below are the one way to choose these paths; an
// override wins over the system's answer until it is cleared with an empty text.
// They are meant to be set before the code under test starts its threads; reading
// and setting are nevertheless safe from any thread.
#pragma once

#include <string>

namespace Platform::Paths {

// Full path of the running program's file (Linux: /proc/self/exe resolved).
std::u16string ExecutablePath();

// The user's local application-data folder (Linux: $XDG_DATA_HOME when it is an
// absolute path, else $HOME/.local/share, with the home folder taken from the
// password database when $HOME is unset). The folder is not created here.
std::u16string LocalAppDataFolder();

// The hosts file that name resolution reads (Linux: /etc/hosts). Whether it exists
// is the caller's question.
std::u16string HostsFilePath();

void OverrideExecutablePath(const std::u16string& path);
void OverrideLocalAppDataFolder(const std::u16string& path);
void OverrideHostsFilePath(const std::u16string& path);

}  // namespace Platform::Paths
