// ByteBuffer: a malloc-owned block with checked growth.
#include "Support/ByteBuffer.h"

#include <cstdlib>
#include <cstring>
#include <limits>
#include <utility>

namespace vesk {

ByteBuffer::ByteBuffer(std::uint64_t size, bool zero) {
    if (Allocate(size) && zero) {
        Zero();
    }
}

ByteBuffer::ByteBuffer(std::string_view text) {
    Append(text.data(), text.size());
}

ByteBuffer::ByteBuffer(const ByteBuffer& other) {
    Assign(other);
}

ByteBuffer::ByteBuffer(ByteBuffer&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), size_(std::exchange(other.size_, 0)) {}

ByteBuffer& ByteBuffer::operator=(const ByteBuffer& other) {
    if (this != &other) {
        if (other.Empty()) {
            Free();
        } else {
            Assign(other);
        }
    }
    return *this;
}

ByteBuffer& ByteBuffer::operator=(ByteBuffer&& other) noexcept {
    if (this != &other) {
        Free();
        data_ = std::exchange(other.data_, nullptr);
        size_ = std::exchange(other.size_, 0);
    }
    return *this;
}

bool ByteBuffer::Allocate(std::uint64_t size) {
    Free();
    if (size == 0) {
        return true;
    }
    if (size > std::numeric_limits<std::size_t>::max()) {
        return false;
    }
    data_ = static_cast<std::uint8_t*>(std::malloc(static_cast<std::size_t>(size)));
    if (data_ == nullptr) {
        return false;
    }
    size_ = size;
    return true;
}

bool ByteBuffer::Resize(std::uint64_t size) {
    if (size == 0) {
        Free();
        return true;
    }
    if (size > std::numeric_limits<std::size_t>::max()) {
        return false;
    }
    void* grown = std::realloc(data_, static_cast<std::size_t>(size));
    if (grown == nullptr) {
        return false;  // the old block is still ours and unchanged
    }
    data_ = static_cast<std::uint8_t*>(grown);
    size_ = size;
    return true;
}

bool ByteBuffer::Assign(const ByteBuffer& other) {
    if (other.Empty() || this == &other) {
        return true;
    }
    if (!Allocate(other.size_)) {
        return false;
    }
    std::memcpy(data_, other.data_, static_cast<std::size_t>(size_));
    return true;
}

bool ByteBuffer::Append(const ByteBuffer& other) {
    return Append(other.data_, other.size_);
}

bool ByteBuffer::Append(const void* bytes, std::uint64_t size) {
    if (size == 0) {
        return true;
    }
    const std::uint64_t oldSize = size_;
    // Bytes from this very block move with it when it is reallocated.
    const auto* source = static_cast<const std::uint8_t*>(bytes);
    const bool inside = data_ != nullptr && source >= data_ && source < data_ + size_;
    const std::size_t offset = inside ? static_cast<std::size_t>(source - data_) : 0;
    if (size > std::numeric_limits<std::uint64_t>::max() - oldSize || !Resize(oldSize + size)) {
        return false;
    }
    std::memmove(data_ + oldSize, inside ? data_ + offset : source, static_cast<std::size_t>(size));
    return true;
}

bool ByteBuffer::Append(std::string_view text) {
    return Append(text.data(), text.size());
}

bool ByteBuffer::Append(std::u16string_view text) {
    const std::uint64_t oldSize = size_;
    if (text.empty()) {
        return true;
    }
    if (!Resize(oldSize + 2 * static_cast<std::uint64_t>(text.size()))) {
        return false;
    }
    std::uint8_t* out = data_ + oldSize;
    for (const char16_t unit : text) {
        *out++ = static_cast<std::uint8_t>(unit & 0xFF);
        *out++ = static_cast<std::uint8_t>(unit >> 8);
    }
    return true;
}

void ByteBuffer::Zero() {
    if (data_ != nullptr) {
        std::memset(data_, 0, static_cast<std::size_t>(size_));
    }
}

void ByteBuffer::Free() {
    std::free(data_);
    data_ = nullptr;
    size_ = 0;
}

std::string_view ByteBuffer::AsText() const {
    return data_ == nullptr ? std::string_view()
                            : std::string_view(reinterpret_cast<const char*>(data_),
                                               static_cast<std::size_t>(size_));
}

}  // namespace vesk
