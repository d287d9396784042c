// An owned heap byte block (pointer and size) for file contents, digests, request
// and response bodies. Size 0 exactly when the block is null.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vesk {

// Operations that need memory return false when the allocator refuses; the buffer
// is then left as it was (Allocate: empty), never half-written.
class ByteBuffer {
public:
    ByteBuffer() = default;
    // `size` bytes, zero-filled when `zero` is true, else uninitialised.
    explicit ByteBuffer(std::uint64_t size, bool zero = true);
    // The text's bytes, without terminator.
    explicit ByteBuffer(std::string_view text);
    ByteBuffer(const ByteBuffer& other);
    ByteBuffer(ByteBuffer&& other) noexcept;
    ByteBuffer& operator=(const ByteBuffer& other);
    ByteBuffer& operator=(ByteBuffer&& other) noexcept;
    ~ByteBuffer() { Free(); }

    // Releases the block and takes a new uninitialised one of `size` bytes.
    bool Allocate(std::uint64_t size);
    // Grows or shrinks the block keeping its leading bytes.
    bool Resize(std::uint64_t size);
    // Copies `other` when it is non-empty; an empty `other` leaves this unchanged.
    bool Assign(const ByteBuffer& other);

    bool Append(const ByteBuffer& other);
    bool Append(const void* bytes, std::uint64_t size);
    bool Append(std::string_view text);     // the bytes, without terminator
    bool Append(std::u16string_view text);  // two bytes per unit, low byte first

    void Zero();
    void Free();

    std::uint8_t* Data() { return data_; }
    const std::uint8_t* Data() const { return data_; }
    std::uint64_t Size() const { return size_; }
    bool Empty() const { return size_ == 0; }
    std::string_view AsText() const;

private:
    std::uint8_t* data_ = nullptr;
    std::uint64_t size_ = 0;
};

}  // namespace vesk
