// Linux backend of Console.h: isatty decides colour, ANSI sequences give it.
#include "Platform/Console.h"

#include <unistd.h>

#include <cerrno>
#include <string>

namespace Platform {

namespace {

int Descriptor(ConsoleStream stream) {
    return stream == ConsoleStream::Error ? STDERR_FILENO : STDOUT_FILENO;
}

const char* AnsiCode(ConsoleColour colour) {
    switch (colour) {
        case ConsoleColour::Red:
            return "\x1b[31m";
        case ConsoleColour::Green:
            return "\x1b[32m";
        case ConsoleColour::Yellow:
            return "\x1b[33m";
        case ConsoleColour::Blue:
            return "\x1b[34m";
        case ConsoleColour::Magenta:
            return "\x1b[35m";
        case ConsoleColour::Cyan:
            return "\x1b[36m";
        case ConsoleColour::White:
            return "\x1b[97m";
        case ConsoleColour::Grey:
            return "\x1b[90m";
        case ConsoleColour::Default:
            break;
    }
    return "";
}

}  // namespace

bool IsConsoleTerminal(ConsoleStream stream) {
    return isatty(Descriptor(stream)) == 1;
}

void WriteConsole(std::string_view text, ConsoleColour colour, ConsoleStream stream) {
    const int fd = Descriptor(stream);
    std::string out;
    const bool coloured = colour != ConsoleColour::Default && isatty(fd) == 1;
    if (coloured) {
        out += AnsiCode(colour);
    }
    out += text;
    if (coloured) {
        out += "\x1b[0m";
    }
    const char* p = out.data();
    std::size_t left = out.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, p, left);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;  // a closed console is not worth failing over
        }
        p += written;
        left -= static_cast<std::size_t>(written);
    }
}

}  // namespace Platform
