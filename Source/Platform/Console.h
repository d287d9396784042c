// Console output with an optional colour. A backend writes one whole message at a
// time; colour is applied only where the output is a terminal (ANSI on Linux,
// console text attributes on Windows).
#pragma once

#include <string_view>

namespace Platform {

enum class ConsoleColour { Default, Red, Green, Yellow, Blue, Magenta, Cyan, White, Grey };

enum class ConsoleStream { Out, Error };

// True when the stream is attached to a terminal (and so can show colour).
bool IsConsoleTerminal(ConsoleStream stream = ConsoleStream::Out);

// Writes `text` to the stream in one write, wrapped in the colour when the stream is
// a terminal and the colour is not Default, and flushes it. Callers serialise
// concurrent messages themselves; this call does no locking.
void WriteConsole(std::string_view text, ConsoleColour colour = ConsoleColour::Default,
                  ConsoleStream stream = ConsoleStream::Out);

}  // namespace Platform
