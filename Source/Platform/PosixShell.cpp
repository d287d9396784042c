// Linux backend of Shell.h: xdg-open for pages and folders, posix_spawn for programs,
// one short-lived reaper thread per started child so no zombie remains.
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <thread>

#include "Platform/PosixText.h"
#include "Platform/Shell.h"

extern char** environ;

namespace Platform::Shell {

namespace {

// Waits for the child on a detached thread: the caller does not wait, and the
// finished child leaves no zombie behind.
void ReapInBackground(pid_t child) {
    try {
        std::thread([child] {
            int status = 0;
            while (::waitpid(child, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (...) {
        // Without a thread the child stays a zombie until this process ends, which
        // is harmless; the start itself succeeded.
    }
}

// Starts `argv[0]` with the given arguments. `searchPath` looks the program up on
// PATH. Signals this process ignores are restored to their defaults in the child,
// and no signal is blocked there.
bool Spawn(const std::string& program, const std::string& argument, const std::string& folder,
           bool searchPath) {
    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    int error = posix_spawn_file_actions_init(&actions);
    if (error != 0) {
        errno = error;
        return false;
    }
    error = posix_spawnattr_init(&attributes);
    if (error != 0) {
        posix_spawn_file_actions_destroy(&actions);
        errno = error;
        return false;
    }
    sigset_t none;
    sigset_t all;
    sigemptyset(&none);
    sigfillset(&all);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &all);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    if (!folder.empty()) {
        error = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    }

    pid_t child = -1;
    if (error == 0) {
        std::string name = program;
        std::string value = argument;
        char* argv[3] = {name.data(), value.empty() ? nullptr : value.data(), nullptr};
        error = searchPath
                    ? posix_spawnp(&child, name.c_str(), &actions, &attributes, argv, environ)
                    : posix_spawn(&child, name.c_str(), &actions, &attributes, argv, environ);
    }
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        errno = error;
        return false;
    }
    ReapInBackground(child);
    return true;
}

}  // namespace

bool OpenWebPage(const std::u16string& address) {
    if (!IsWebAddress(address)) {
        errno = EINVAL;
        return false;
    }
    std::string native;
    if (!Posix::ToNativePath(address, native)) {
        return false;
    }
    return Spawn("xdg-open", native, {}, true);
}

bool OpenFolder(const std::u16string& folder) {
    std::string native;
    if (!Posix::ToNativePath(folder, native)) {
        return false;
    }
    if (native.empty()) {
        errno = ENOENT;
        return false;
    }
    // A relative name starting with "-" would read as an option.
    if (native[0] == '-') {
        native = "./" + native;
    }
    return Spawn("xdg-open", native, {}, true);
}

bool StartProgram(const std::u16string& program, const std::u16string& workingDirectory) {
    std::string nativeProgram;
    std::string nativeFolder;
    if (!Posix::ToNativePath(program, nativeProgram) ||
        !Posix::ToNativePath(workingDirectory, nativeFolder)) {
        return false;
    }
    if (nativeProgram.empty()) {
        errno = ENOENT;
        return false;
    }
    return Spawn(nativeProgram, {}, nativeFolder, false);
}

}  // namespace Platform::Shell
