// Console output with a text colour. A backend writes one whole message per call and
// shows colour only where the stream is a terminal (ANSI sequences on Linux, console
// text attributes on Windows). Names avoid the Win32 macros (WriteConsole).
#pragma once

#include <cstdint>
#include <string_view>

namespace Platform {

enum class ConsoleStream { Out, Error };

// A console text attribute: bit 0 blue, bit 1 green, bit 2 red, bit 3 intensity.
// 7 (grey) is the console's default colour.
using ConsoleAttribute = std::uint16_t;
inline constexpr ConsoleAttribute DefaultConsoleAttribute = 7;

// True when the stream is attached to a terminal (and so can show colour).
bool IsConsoleTerminal(ConsoleStream stream = ConsoleStream::Out);

// Writes `text` in `attribute`'s colour and then returns the stream to the default
// colour, all as one write on the C runtime's stream (so it never interleaves with
// other writes to that stream), and flushes. Without a terminal only the text is
// written. Write errors are ignored.
void WriteConsoleText(ConsoleStream stream, std::string_view text,
                      ConsoleAttribute attribute = DefaultConsoleAttribute);

// Switches the stream's colour for the text that follows; does nothing when the
// stream is not a terminal.
void SetConsoleTextColour(ConsoleStream stream, ConsoleAttribute attribute);

}  // namespace Platform
