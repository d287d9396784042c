// Shared helpers of the fuzz targets: a reader that takes typed pieces from the input
// bytes, and a quiet standard output (the error log echoes every entry there).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

namespace fuzz {

class FuzzInput {
public:
    FuzzInput(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool Empty() const { return size_ == 0; }

    std::uint8_t Byte() {
        if (size_ == 0) {
            return 0;
        }
        --size_;
        return *data_++;
    }

    // Up to the next 0xFF byte (dropped), or the rest.
    std::string Piece() {
        std::size_t length = 0;
        while (length < size_ && data_[length] != 0xFF) {
            ++length;
        }
        std::string piece(reinterpret_cast<const char*>(data_), length);
        const std::size_t taken = length < size_ ? length + 1 : length;
        data_ += taken;
        size_ -= taken;
        return piece;
    }

    std::string Rest() {
        std::string rest(reinterpret_cast<const char*>(data_), size_);
        data_ += size_;
        size_ = 0;
        return rest;
    }

private:
    const std::uint8_t* data_;
    std::size_t size_;
};

// Byte pairs as UTF-16 code units (little-endian); unpaired surrogates included.
inline std::u16string AsUtf16(std::string_view bytes) {
    std::u16string text;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<std::uint8_t>(bytes[i]) |
                                      static_cast<std::uint8_t>(bytes[i + 1]) << 8);
    }
    return text;
}

// Every log recording is echoed to standard output; a fuzz run would spend its time there.
inline void SilenceStandardOutput() {
    if (std::freopen("/dev/null", "w", stdout) == nullptr) {
        std::fputs("fuzz: standard output stays open\n", stderr);
    }
}

}  // namespace fuzz
