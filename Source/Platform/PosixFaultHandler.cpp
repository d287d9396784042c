// Linux backend of FaultHandler.h: a process-wide fatal-signal note on standard error,
// written with async-signal-safe calls only, then the default action.
#include "Platform/FaultHandler.h"

#include <signal.h>
#include <unistd.h>

#include <cstdint>
#include <mutex>

namespace Platform {

namespace {

void AppendText(char* buffer, std::size_t& used, std::size_t capacity, const char* text) {
    while (*text != '\0' && used < capacity) {
        buffer[used++] = *text++;
    }
}

void AppendHex(char* buffer, std::size_t& used, std::size_t capacity, std::uintptr_t value) {
    char digits[2 * sizeof value];
    std::size_t count = 0;
    do {
        digits[count++] = "0123456789abcdef"[value & 0xF];
        value >>= 4;
    } while (value != 0 && count < sizeof digits);
    while (count > 0 && used < capacity) {
        buffer[used++] = digits[--count];
    }
}

void OnFatalSignal(int signalNumber, siginfo_t* info, void*) {
    char line[128];
    std::size_t used = 0;
    AppendText(line, used, sizeof line, "Fatal signal 0x");
    AppendHex(line, used, sizeof line, static_cast<std::uintptr_t>(signalNumber));
    AppendText(line, used, sizeof line, " at address 0x");
    AppendHex(line, used, sizeof line,
              reinterpret_cast<std::uintptr_t>(info != nullptr ? info->si_addr : nullptr));
    AppendText(line, used, sizeof line, "; the process ends.\n");
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, line, used);
    // End with the default action, so exit status and core dump stay the signal's own.
    ::signal(signalNumber, SIG_DFL);
    ::raise(signalNumber);
}

}  // namespace

void InstallFaultTranslator(FaultTranslator) {
    static std::once_flag once;
    std::call_once(once, [] {
        for (const int signalNumber : {SIGSEGV, SIGBUS, SIGILL, SIGFPE}) {
            struct sigaction current {};
            if (sigaction(signalNumber, nullptr, &current) != 0 ||
                (current.sa_flags & SA_SIGINFO) != 0 || current.sa_handler != SIG_DFL) {
                continue;  // someone else handles it
            }
            struct sigaction action {};
            action.sa_sigaction = OnFatalSignal;
            action.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_NODEFER;
            sigemptyset(&action.sa_mask);
            sigaction(signalNumber, &action, nullptr);
        }
    });
}

}  // namespace Platform
