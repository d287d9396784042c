// The compressor interface: open state, compression level and strategy, and the writing
// operations a concrete compressor provides.
#pragma once

#include <cstdint>
#include <string_view>

namespace zlib {

class CZipper {
public:
    virtual ~CZipper() = default;

    // Closes the open file; true when it was open and closed cleanly.
    virtual bool Close() = 0;
    virtual bool IsOpen() const = 0;
    // Compresses `length` bytes into the open file; true when all were taken.
    virtual bool Write(const void* bytes, unsigned int length) = 0;
    // Writes the text's UTF-16 code units, low byte first, without terminator or byte-order
    // mark. The pointer form stops at the first zero unit.
    virtual bool WriteString(const char16_t* text) = 0;
    virtual bool WriteString(std::u16string_view text) = 0;
    // Hands the stored level and strategy to the open file; does nothing when closed.
    virtual void ApplyParameters() = 0;

    // Stores the level (-1 is the library's default, 0-9 otherwise) and applies it.
    void SetCompressionLevel(int level) {
        level_ = level;
        ApplyParameters();
    }

    static constexpr int ModeClosed = 0;
    static constexpr int ModeWrite = 1;

protected:
    int mode_ = ModeClosed;
    int level_ = -1;
    int strategy_ = 0;
};

}  // namespace zlib
