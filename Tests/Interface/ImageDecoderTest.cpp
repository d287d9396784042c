// Image decoding: real PNG bytes made here decode to the same RGBA pixels; anything else
// fails cleanly.
#include "Interface/ImageDecoder.h"

#include <gtest/gtest.h>

#include <stb_image_write.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
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

std::vector<std::uint8_t> ReadData(const std::string& name) {
    std::ifstream in(std::filesystem::path(SORVAN_INTERFACE_TEST_DATA) / name, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(ImageDecoderTest, DecodesAJpegToRgba) {
    const auto jpeg = ReadData("red-16x8.jpg");
    ASSERT_FALSE(jpeg.empty());
    EXPECT_EQ(DetectImageFormat(jpeg.data(), jpeg.size()), ImageFormat::Jpeg);
    const auto image = DecodeImage(jpeg.data(), jpeg.size());
    ASSERT_TRUE(image);
    EXPECT_EQ(image->width, 16);
    EXPECT_EQ(image->height, 8);
    ASSERT_EQ(image->pixels.size(), 16u * 8u * 4u);
    EXPECT_NEAR(image->pixels[0], 200, 4);
    EXPECT_NEAR(image->pixels[1], 40, 4);
    EXPECT_NEAR(image->pixels[2], 40, 4);
    EXPECT_EQ(image->pixels[3], 255);
}

// Pictures a hostile content host could send: each is refused without decoding its pixels
// (and without taking the memory its header claims).
TEST(ImageDecoderTest, RefusesHostilePictures) {
    const char* files[] = {
        "huffman-counts-past-256.jpg",  // code counts past a table's 256 entries
        "claims-16962-square.gif",      // 55 bytes claiming 16962 x 16962; GIF is not used
        "claims-16962-square.png",      // header past the size cap
        "claims-16962-square.jpg",      // frame header past the size cap
    };
    for (const char* file : files) {
        SCOPED_TRACE(file);
        const auto bytes = ReadData(file);
        ASSERT_FALSE(bytes.empty());
        EXPECT_FALSE(DecodeImage(bytes.data(), bytes.size()));
    }

    // The cap is checked for both formats; a picture at the cap still decodes.
    std::vector<std::uint8_t> pixels(16 * 16 * 4, 77);
    const auto png = EncodePng(16, 16, 4, pixels);
    EXPECT_FALSE(DecodeImage(png.data(), png.size(), ImageLimits{15, 16}));
    EXPECT_FALSE(DecodeImage(png.data(), png.size(), ImageLimits{16, 15}));
    EXPECT_TRUE(DecodeImage(png.data(), png.size(), ImageLimits{16, 16}));
    const auto jpeg = ReadData("red-16x8.jpg");
    EXPECT_FALSE(DecodeImage(jpeg.data(), jpeg.size(), ImageLimits{16, 7}));

    // A JPEG cut in its entropy-coded data is broken, not a picture with a grey end.
    auto cut = jpeg;
    cut.resize(cut.size() - 20);
    EXPECT_FALSE(DecodeImage(cut.data(), cut.size()));
}

}  // namespace
}  // namespace vesk
