// Linux backend of Console.h: isatty decides colour, ANSI sequences give it, and the
// text goes through stdio so it orders with printf output on the same stream.
#include "Platform/Console.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace Platform {

namespace {

std::FILE* StreamFile(ConsoleStream stream) {
    return stream == ConsoleStream::Error ? stderr : stdout;
}

int StreamDescriptor(ConsoleStream stream) {
    return stream == ConsoleStream::Error ? STDERR_FILENO : STDOUT_FILENO;
}

// The default grey is the terminal's own default colour, so it is a plain reset.
std::string AnsiSequence(ConsoleAttribute attribute) {
    attribute &= 0x0F;
    if (attribute == DefaultConsoleAttribute) {
        return "\x1b[0m";
    }
    // Console bits are blue/green/red; ANSI colour numbers are red/green/blue.
    const int colour =
        ((attribute & 4) ? 1 : 0) | ((attribute & 2) ? 2 : 0) | ((attribute & 1) ? 4 : 0);
    const int base = (attribute & 8) ? 90 : 30;
    return "\x1b[0;" + std::to_string(base + colour) + "m";
}

}  // namespace

bool IsConsoleTerminal(ConsoleStream stream) {
    return isatty(StreamDescriptor(stream)) == 1;
}

void WriteConsoleText(ConsoleStream stream, std::string_view text, ConsoleAttribute attribute) {
    std::string out;
    if (IsConsoleTerminal(stream)) {
        out = AnsiSequence(attribute);
        out += text;
        out += AnsiSequence(DefaultConsoleAttribute);
    } else {
        out = text;
    }
    std::FILE* file = StreamFile(stream);
    std::fwrite(out.data(), 1, out.size(), file);
    std::fflush(file);
}

void SetConsoleTextColour(ConsoleStream stream, ConsoleAttribute attribute) {
    if (!IsConsoleTerminal(stream)) {
        return;
    }
    const std::string sequence = AnsiSequence(attribute);
    std::FILE* file = StreamFile(stream);
    std::fwrite(sequence.data(), 1, sequence.size(), file);
    std::fflush(file);
}

}  // namespace Platform
