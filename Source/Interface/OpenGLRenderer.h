// Draws the UI's draw data with fixed-function OpenGL (1.x): vertex arrays, one scissored
// glDrawElements per command. Every piece of OpenGL state it changes is restored after.
// Images are named by Texture::GetHandle; a null handle is the font atlas.
#pragma once

#include <cstdint>

struct ImDrawData;

namespace vesk {

// Draws `data` into the current framebuffer; `fontTexture` is the OpenGL name bound for
// commands with a null texture handle. Handles that name no registered texture leave the
// previous binding in place. Does nothing for a zero-sized framebuffer.
void RenderDrawData(const ImDrawData* data, std::uint32_t fontTexture);

}  // namespace vesk
