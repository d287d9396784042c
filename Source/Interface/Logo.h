// The splash logo compiled into the program: 198 x 251 pixels, 8-bit RGBA, rows tightly
// packed, drawn at build time by LogoGenerator.cpp.
#pragma once

#include <cstddef>

namespace vesk::Embedded {

inline constexpr int LogoWidth = 198;
inline constexpr int LogoHeight = 251;
inline constexpr std::size_t LogoByteCount = static_cast<std::size_t>(LogoWidth) * LogoHeight * 4;

extern const unsigned char LogoPixels[LogoByteCount];

}  // namespace vesk::Embedded
