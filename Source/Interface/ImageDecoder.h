// Decoding of encoded images (PNG, JPEG, BMP, GIF, TGA...) held in memory into 8-bit RGBA
// pixels, rows tightly packed, ready for Texture::CopyToGpu.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace vesk {

struct DecodedImage {
    int width = 0;
    int height = 0;
    std::vector<std::uint8_t> pixels;  // width * height * 4 bytes
};

// Decodes `size` bytes at `data`. Returns nothing when the bytes are not an image the
// decoder knows, are truncated, or when `data` is null or `size` is 0 or too large for
// the decoder. Never throws.
std::optional<DecodedImage> DecodeImage(const std::uint8_t* data, std::size_t size);

}  // namespace vesk
