// Decoding of the interface's pictures (PNG and JPEG, as the content host serves them) held
// in memory into 8-bit RGBA pixels, rows tightly packed, ready for Texture::CopyToGpu. The
// bytes come from a server, so the decoders are the continuously fuzzed system libraries
// (libpng, libjpeg-turbo), every other format is refused, and the size a header claims is
// checked against a cap before any pixel memory is taken.
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

// The largest picture accepted; the interface's pictures are about 600 x 640.
struct ImageLimits {
    int maxWidth = 4096;
    int maxHeight = 4096;
};

enum class ImageFormat { Unknown, Png, Jpeg };

// The format the leading bytes announce (signature only; nothing is decoded).
ImageFormat DetectImageFormat(const std::uint8_t* data, std::size_t size);

// Decodes `size` bytes at `data`. Returns nothing when the bytes are not a PNG or JPEG, are
// truncated or corrupt, claim a size of 0 or beyond `limits`, or when `data` is null or
// `size` is 0. Never throws; nothing is allocated for pixels before the size was checked.
std::optional<DecodedImage> DecodeImage(const std::uint8_t* data, std::size_t size,
                                        const ImageLimits& limits = {});

}  // namespace vesk
