// Image decoding through stb_image; its implementation comes from the system's libstb.
#include "ImageDecoder.h"

#include <climits>
#include <cstring>

#include <stb_image.h>

namespace vesk {

std::optional<DecodedImage> DecodeImage(const std::uint8_t* data, std::size_t size) {
    if (data == nullptr || size == 0 || size > static_cast<std::size_t>(INT_MAX)) {
        return std::nullopt;
    }
    int width = 0;
    int height = 0;
    int channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(data, static_cast<int>(size), &width, &height,
                                            &channels, STBI_rgb_alpha);
    if (pixels == nullptr) {
        return std::nullopt;
    }
    DecodedImage image;
    if (width > 0 && height > 0) {
        image.width = width;
        image.height = height;
        const std::size_t bytes = static_cast<std::size_t>(width) * height * 4;
        image.pixels.resize(bytes);
        std::memcpy(image.pixels.data(), pixels, bytes);
    }
    stbi_image_free(pixels);
    if (image.pixels.empty()) {
        return std::nullopt;
    }
    return image;
}

}  // namespace vesk
