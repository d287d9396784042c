// The two font files compiled into the program at build time (EmbedFile.cmake): the text
// face and the icon face. They are plain TrueType bytes; nothing is read from disk.
#pragma once

#include <cstddef>

namespace vesk::Embedded {

// Roboto Light: the text face of every UI font.
extern const unsigned char RobotoLight[];
extern const std::size_t RobotoLightSize;

// The icon face merged into every UI font (window-minimize, times, play, pause...).
extern const unsigned char IconFont[];
extern const std::size_t IconFontSize;

}  // namespace vesk::Embedded
