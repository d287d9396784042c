// The console logger: formats each message whole and writes it in one call under a
// process-wide lock, so neither text nor colour of two threads mix.
#include "Support/ConsoleLog.h"

#include <array>
#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

#include "Platform/Console.h"

namespace vesk {

namespace {

constexpr std::array<std::uint16_t, 16> Attributes = {0,  4,  2,  6, 1,  5,  3,  7,
                                                      14, 12, 10, 9, 13, 11, 15, 0};

constexpr std::uint8_t VerboseLevel = 3;

std::atomic<std::uint8_t> g_verbosity{0};
std::mutex g_consoleMutex;

std::string FormatText(const char* format, va_list arguments) {
    va_list measure;
    va_copy(measure, arguments);
    const int length = std::vsnprintf(nullptr, 0, format, measure);
    va_end(measure);
    if (length <= 0) {
        return {};
    }
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    std::vsnprintf(text.data(), text.size(), format, arguments);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void WriteMessage(ConsoleColor color, const char* format, va_list arguments) {
    std::string text = FormatText(format, arguments);
    text += '\n';
    std::lock_guard lock(g_consoleMutex);
    Platform::WriteConsoleText(Platform::ConsoleStream::Out, text, ConsoleAttribute(color));
}

Platform::ConsoleStream Stream(bool toStdout) {
    return toStdout ? Platform::ConsoleStream::Out : Platform::ConsoleStream::Error;
}

}  // namespace

std::uint16_t ConsoleAttribute(ConsoleColor color) {
    const auto index = static_cast<std::size_t>(color);
    return index < Attributes.size() ? Attributes[index] : Platform::DefaultConsoleAttribute;
}

void LogMessage(const char* format, ...) {
    if (format == nullptr) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    WriteMessage(ConsoleColor::Grey, format, arguments);
    va_end(arguments);
}

void LogError(const char* format, ...) {
    if (format == nullptr) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    WriteMessage(ConsoleColor::BrightRed, format, arguments);
    va_end(arguments);
}

void LogVerbose(const char* format, ...) {
    if (format == nullptr || g_verbosity.load(std::memory_order_relaxed) < VerboseLevel) {
        return;
    }
    va_list arguments;
    va_start(arguments, format);
    WriteMessage(ConsoleColor::BrightMagenta, format, arguments);
    va_end(arguments);
}

void SetVerbosity(std::uint8_t verbosity) {
    g_verbosity.store(verbosity, std::memory_order_relaxed);
}

std::uint8_t GetVerbosity() {
    return g_verbosity.load(std::memory_order_relaxed);
}

int PrintToStdout(const char* format, ...) {
    if (format == nullptr) {
        return -1;
    }
    va_list arguments;
    va_start(arguments, format);
    const int result = std::vfprintf(stdout, format, arguments);
    va_end(arguments);
    std::fflush(stdout);
    return result;
}

void SetConsoleColor(bool toStdout, ConsoleColor color) {
    Platform::SetConsoleTextColour(Stream(toStdout), ConsoleAttribute(color));
}

void ResetConsoleColor(bool toStdout) {
    Platform::SetConsoleTextColour(Stream(toStdout), Platform::DefaultConsoleAttribute);
}

}  // namespace vesk
