// The developer console: printf-style messages of the shell and the interface, each
// in one of sixteen colours, written as whole lines that never interleave. This is
// not the application log; that is the error log (ErrorLog.h).
#pragma once

#include <cstdarg>
#include <cstdint>

#if defined(__GNUC__)
#define VESK_PRINTF_FORMAT(formatIndex, firstArgument) \
    __attribute__((format(printf, formatIndex, firstArgument)))
#else
#define VESK_PRINTF_FORMAT(formatIndex, firstArgument)
#endif

namespace vesk {

enum class ConsoleColor : std::uint8_t {
    Black = 0,
    Red = 1,
    Green = 2,
    Yellow = 3,
    Blue = 4,
    Magenta = 5,
    Cyan = 6,
    Grey = 7,  // the console's default
    BrightYellow = 8,
    BrightRed = 9,
    BrightGreen = 10,
    BrightBlue = 11,
    BrightMagenta = 12,
    BrightCyan = 13,
    BrightWhite = 14,
    Black2 = 15,
};

// The console text attribute (bit 0 blue, 1 green, 2 red, 3 intensity) of a colour;
// indexes outside 0..15 give the default grey.
std::uint16_t ConsoleAttribute(ConsoleColor color);

// Whole messages: the text, its own line break, in the function's colour, and the
// console back at grey afterwards. A null format prints nothing.
void LogMessage(const char* format, ...) VESK_PRINTF_FORMAT(1, 2);  // grey, always
void LogError(const char* format, ...) VESK_PRINTF_FORMAT(1, 2);    // bright red, always
void LogVerbose(const char* format, ...)
    VESK_PRINTF_FORMAT(1, 2);  // bright magenta, verbosity >= 3

// The gate of LogVerbose; 0 at start.
void SetVerbosity(std::uint8_t verbosity);
std::uint8_t GetVerbosity();

// Lower level, no lock and no gate: vfprintf to standard output; returns its result.
int PrintToStdout(const char* format, ...) VESK_PRINTF_FORMAT(1, 2);
// Colour of the text that follows on standard output (true) or standard error.
void SetConsoleColor(bool toStdout, ConsoleColor color);
void ResetConsoleColor(bool toStdout);

}  // namespace vesk
