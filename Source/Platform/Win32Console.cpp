// Windows backend of Console.h: a console handle decides colour, SetConsoleTextAttribute
// gives it. Colour, text and reset are three steps there, so one lock keeps each message
// whole against other messages written through here.
#include "Platform/Console.h"

#include <windows.h>

#include <cstdio>
#include <mutex>

namespace Platform {

namespace {

std::mutex consoleMutex;

std::FILE* StreamFile(ConsoleStream stream) {
    return stream == ConsoleStream::Error ? stderr : stdout;
}

HANDLE StreamHandle(ConsoleStream stream) {
    return GetStdHandle(stream == ConsoleStream::Error ? STD_ERROR_HANDLE : STD_OUTPUT_HANDLE);
}

void Apply(ConsoleStream stream, ConsoleAttribute attribute) {
    std::fflush(StreamFile(stream));
    SetConsoleTextAttribute(StreamHandle(stream), static_cast<WORD>(attribute & 0x0F));
}

}  // namespace

bool IsConsoleTerminal(ConsoleStream stream) {
    DWORD mode = 0;
    const HANDLE handle = StreamHandle(stream);
    return handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode);
}

void WriteConsoleText(ConsoleStream stream, std::string_view text, ConsoleAttribute attribute) {
    std::FILE* file = StreamFile(stream);
    const std::lock_guard<std::mutex> lock(consoleMutex);
    const bool terminal = IsConsoleTerminal(stream);
    if (terminal) {
        Apply(stream, attribute);
    }
    std::fwrite(text.data(), 1, text.size(), file);
    std::fflush(file);
    if (terminal) {
        Apply(stream, DefaultConsoleAttribute);
    }
}

void SetConsoleTextColour(ConsoleStream stream, ConsoleAttribute attribute) {
    if (!IsConsoleTerminal(stream)) {
        return;
    }
    const std::lock_guard<std::mutex> lock(consoleMutex);
    Apply(stream, attribute);
}

}  // namespace Platform
