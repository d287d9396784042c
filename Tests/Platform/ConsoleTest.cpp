// Console output: plain text off a terminal, ANSI colour and reset on one (a pty).
#include "Platform/Console.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace Platform {
namespace {

// Standard output pointed at a pseudo-terminal shows the colour, then the reset.
TEST(ConsoleTest, ColourAndResetOnATerminal) {
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(grantpt(master), 0);
    ASSERT_EQ(unlockpt(master), 0);
    const int terminal = open(ptsname(master), O_RDWR | O_NOCTTY);
    ASSERT_GE(terminal, 0);

    std::fflush(stdout);
    const int saved = dup(STDOUT_FILENO);
    dup2(terminal, STDOUT_FILENO);
    const bool isTerminal = IsConsoleTerminal(ConsoleStream::Out);
    WriteConsoleText(ConsoleStream::Out, "red", 12);  // bright red
    WriteConsoleText(ConsoleStream::Out, "cyan", 3);  // cyan
    WriteConsoleText(ConsoleStream::Out, "grey", 7);  // default
    std::fflush(stdout);
    dup2(saved, STDOUT_FILENO);
    close(saved);
    close(terminal);

    std::string output;
    char buffer[256];
    fcntl(master, F_SETFL, O_NONBLOCK);
    for (ssize_t got; (got = read(master, buffer, sizeof buffer)) > 0;) {
        output.append(buffer, static_cast<std::size_t>(got));
    }
    close(master);

    EXPECT_TRUE(isTerminal);
    EXPECT_EQ(output,
              "\x1b[0;91mred\x1b[0m"
              "\x1b[0;36mcyan\x1b[0m"
              "\x1b[0mgrey\x1b[0m");
}

}  // namespace
}  // namespace Platform
