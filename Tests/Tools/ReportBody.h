// Log report bodies as the client sends them: UTF-16LE text, gzip-compressed.
#pragma once

#include <string>
#include <string_view>

namespace ToolsTest {

// Gzip of `bytes`, as the client's log file is written (level 9).
std::string Gzip(std::string_view bytes);

// Text as UTF-16LE: ASCII text byte by byte, or UTF-16 code units.
std::string Utf16Le(std::string_view ascii);
std::string Utf16Le(std::u16string_view text);

}  // namespace ToolsTest
