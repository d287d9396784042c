// Fault handling: a hardware fault still ends the process with its own signal, after
// a one-line note (where no sanitizer or debugger handles the signal first).
#include "Platform/FaultHandler.h"

#include <signal.h>

#include <gtest/gtest.h>

namespace Platform {
namespace {

bool HandlerIsOurs() {
    struct sigaction current {};
    sigaction(SIGSEGV, nullptr, &current);
    return (current.sa_flags & SA_SIGINFO) != 0 && (current.sa_flags & SA_RESETHAND) != 0;
}

TEST(FaultHandlerDeathTest, FaultEndsTheProcessWithItsSignal) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            InstallFaultTranslator([](unsigned, const void*) { throw 1; });
            if (!HandlerIsOurs()) {
                std::fputs("Fatal signal (handled elsewhere)", stderr);
                signal(SIGSEGV, SIG_DFL);
            }
            raise(SIGSEGV);
        },
        testing::KilledBySignal(SIGSEGV), "Fatal signal");
}

}  // namespace
}  // namespace Platform
