// Image decoding through libpng's simplified reader and libjpeg-turbo. libjpeg reports
// errors through a callback that must not return, so it jumps back to the one function
// that set the jump point; that function holds only plain C objects, and the pixel vector
// it fills lives in its caller, so no destructor is skipped.
#include "ImageDecoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstring>

#include <jpeglib.h>
#include <png.h>

namespace vesk {

namespace {

// A progressive JPEG may hold any number of scans, each one a full pass over the image;
// a few hundred is far beyond what an encoder writes.
constexpr int MaxJpegScans = 500;

bool WithinLimits(std::uint32_t width, std::uint32_t height, const ImageLimits& limits) {
    return width > 0 && height > 0 && width <= static_cast<std::uint32_t>(limits.maxWidth) &&
           height <= static_cast<std::uint32_t>(limits.maxHeight);
}

bool DecodePng(const std::uint8_t* data, std::size_t size, const ImageLimits& limits,
               DecodedImage& image) {
    png_image png;
    std::memset(&png, 0, sizeof png);
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_memory(&png, data, size) == 0) {
        return false;
    }
    if (!WithinLimits(png.width, png.height, limits)) {
        png_image_free(&png);
        return false;
    }
    png.format = PNG_FORMAT_RGBA;
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.pixels.resize(PNG_IMAGE_SIZE(png));
    // finish_read frees the reader's state whether it succeeds or not.
    return png_image_finish_read(&png, nullptr, image.pixels.data(), 0, nullptr) != 0;
}

struct JpegErrors {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
};

[[noreturn]] void JumpOnJpegError(j_common_ptr info) {
    std::longjmp(reinterpret_cast<JpegErrors*>(info->err)->jump, 1);
}

void IgnoreJpegMessage(j_common_ptr) {}

void LimitJpegScans(j_common_ptr info) {
    const auto* decompress = reinterpret_cast<j_decompress_ptr>(info);
    if (decompress->input_scan_number > MaxJpegScans) {
        JumpOnJpegError(info);
    }
}

bool DecodeJpeg(const std::uint8_t* data, std::size_t size, const ImageLimits& limits,
                DecodedImage& image) {
    jpeg_decompress_struct info;
    JpegErrors errors;
    jpeg_progress_mgr progress;
    info.err = jpeg_std_error(&errors.manager);
    errors.manager.error_exit = JumpOnJpegError;
    errors.manager.output_message = IgnoreJpegMessage;
    if (setjmp(errors.jump) != 0) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    jpeg_create_decompress(&info);
    progress.progress_monitor = LimitJpegScans;
    info.progress = &progress;
    jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
    if (jpeg_read_header(&info, TRUE) != JPEG_HEADER_OK ||
        !WithinLimits(info.image_width, info.image_height, limits)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    info.out_color_space = JCS_EXT_RGBA;
    jpeg_start_decompress(&info);
    if (info.output_components != 4 ||
        !WithinLimits(info.output_width, info.output_height, limits)) {
        jpeg_destroy_decompress(&info);
        return false;
    }
    image.width = static_cast<int>(info.output_width);
    image.height = static_cast<int>(info.output_height);
    const std::size_t stride = static_cast<std::size_t>(image.width) * 4;
    image.pixels.resize(stride * static_cast<std::size_t>(image.height));
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image.pixels.data() + stride * info.output_scanline;
        if (jpeg_read_scanlines(&info, &row, 1) != 1) {
            // Data ran out: libjpeg would fill the rest with grey; take it as broken.
            jpeg_destroy_decompress(&info);
            return false;
        }
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

}  // namespace

ImageFormat DetectImageFormat(const std::uint8_t* data, std::size_t size) {
    static constexpr std::uint8_t PngSignature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    if (data == nullptr) {
        return ImageFormat::Unknown;
    }
    if (size >= sizeof PngSignature && std::memcmp(data, PngSignature, sizeof PngSignature) == 0) {
        return ImageFormat::Png;
    }
    if (size >= 3 && data[0] == 0xFF && data[1] == 0xD8 && data[2] == 0xFF) {
        return ImageFormat::Jpeg;
    }
    return ImageFormat::Unknown;
}

std::optional<DecodedImage> DecodeImage(const std::uint8_t* data, std::size_t size,
                                        const ImageLimits& limits) {
    if (data == nullptr || size == 0) {
        return std::nullopt;
    }
    DecodedImage image;
    bool decoded = false;
    switch (DetectImageFormat(data, size)) {
        case ImageFormat::Png:
            decoded = DecodePng(data, size, limits, image);
            break;
        case ImageFormat::Jpeg:
            decoded = DecodeJpeg(data, size, limits, image);
            break;
        case ImageFormat::Unknown:
            break;
    }
    if (!decoded || image.pixels.empty()) {
        return std::nullopt;
    }
    return image;
}

}  // namespace vesk
