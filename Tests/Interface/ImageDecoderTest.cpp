// Image decoding: real PNG bytes made here decode to the same RGBA pixels; anything else
// fails cleanly.
#include "Interface/ImageDecoder.h"

#include <gtest/gtest.h>

#include <stb_image_write.h>

#include <vector>

namespace vesk {
namespace {

std::vector<std::uint8_t> EncodePng(int width, int height, int channels,
                                    const std::vector<std::uint8_t>& pixels) {
    std::vector<std::uint8_t> png;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            auto* out = static_cast<std::vector<std::uint8_t>*>(context);
            const auto* bytes = static_cast<const std::uint8_t*>(data);
            out->insert(out->end(), bytes, bytes + size);
        },
        &png, width, height, channels, pixels.data(), width * channels);
    return png;
}

TEST(ImageDecoderTest, DecodesAnRgbaPngToTheSamePixels) {
    const int width = 3;
    const int height = 2;
    std::vector<std::uint8_t> pixels;
    for (int i = 0; i < width * height; ++i) {
        pixels.insert(pixels.end(), {static_cast<std::uint8_t>(i * 40), 10, 200,
                                     static_cast<std::uint8_t>(255 - i)});
    }
    const auto png = EncodePng(width, height, 4, pixels);
    ASSERT_FALSE(png.empty());

    const auto image = DecodeImage(png.data(), png.size());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, width);
    EXPECT_EQ(image->height, height);
    EXPECT_EQ(image->pixels, pixels);
}

TEST(ImageDecoderTest, ExpandsGreyImagesToOpaqueRgba) {
    const auto png = EncodePng(2, 1, 1, {0, 128});
    const auto image = DecodeImage(png.data(), png.size());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->pixels, (std::vector<std::uint8_t>{0, 0, 0, 255, 128, 128, 128, 255}));
}

TEST(ImageDecoderTest, RejectsBytesThatAreNoImage) {
    const std::vector<std::uint8_t> text = {'n', 'o', 't', ' ', 'a', 'n', ' ', 'i', 'm', 'g'};
    EXPECT_FALSE(DecodeImage(text.data(), text.size()));
    EXPECT_FALSE(DecodeImage(nullptr, 100));
    EXPECT_FALSE(DecodeImage(text.data(), 0));

    // A real PNG cut short after its header.
    std::vector<std::uint8_t> pixels(16 * 16 * 4, 77);
    auto png = EncodePng(16, 16, 4, pixels);
    png.resize(40);
    EXPECT_FALSE(DecodeImage(png.data(), png.size()));
}

}  // namespace
}  // namespace vesk
