// A growing byte block that refuses to grow past its cap, so the bound on a reply held in
// memory is checked in one place instead of by every reader.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace vesk {

class CappedBuffer {
public:
    explicit CappedBuffer(std::uint64_t cap) : cap_(cap) {}

    // Appends the bytes; false, adding nothing, when they would take the block past its cap.
    bool Append(const void* bytes, std::size_t size) {
        if (size > cap_ || bytes_.size() > cap_ - size)
            return false;
        bytes_.append(static_cast<const char*>(bytes), size);
        return true;
    }
    // Empties the block and gives its memory back.
    void Free() { std::string().swap(bytes_); }

    std::uint64_t Cap() const { return cap_; }
    std::uint64_t Size() const { return bytes_.size(); }
    bool Empty() const { return bytes_.empty(); }
    const std::uint8_t* Data() const {
        return reinterpret_cast<const std::uint8_t*>(bytes_.data());
    }
    std::string_view View() const { return bytes_; }

private:
    std::uint64_t cap_;
    std::string bytes_;
};

}  // namespace vesk
