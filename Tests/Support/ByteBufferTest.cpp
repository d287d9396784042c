// ByteBuffer: construction, growth keeping contents, appends of every kind, copies
// and moves, and refusal of impossible sizes without losing the old block.
#include "Support/ByteBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

// Under the sanitizers, let impossible allocations fail as they do in production.
extern "C" __attribute__((used, visibility("default"))) const char* __asan_default_options() {
    return "allocator_may_return_null=1";
}
extern "C" __attribute__((used, visibility("default"))) const char* __tsan_default_options() {
    return "allocator_may_return_null=1";
}

namespace vesk {
namespace {

TEST(ByteBufferTest, AppendsKeepEarlierBytes) {
    ByteBuffer buffer(std::string_view("ab"));
    ASSERT_TRUE(buffer.Append(std::string_view("cd")));
    ASSERT_TRUE(buffer.Append(u"\u0141Z"));
    const std::uint8_t raw[] = {0xFF};
    ASSERT_TRUE(buffer.Append(raw, 1));
    ASSERT_TRUE(buffer.Append(ByteBuffer(std::string_view("!"))));
    EXPECT_EQ(buffer.AsText(), std::string_view("abcd\x41\x01Z\0\xff!", 10));

    // Appending a buffer to itself reads the bytes before they move.
    ByteBuffer self(std::string_view("xyz"));
    ASSERT_TRUE(self.Append(self));
    ASSERT_TRUE(self.Append(self.Data() + 1, 2));
    EXPECT_EQ(self.AsText(), "xyzxyzyz");
}

TEST(ByteBufferTest, ZeroedConstructionAndShrinking) {
    ByteBuffer buffer(4, true);
    EXPECT_EQ(buffer.AsText(), std::string_view("\0\0\0\0", 4));
    buffer = ByteBuffer(std::string_view("abcdef"));
    ASSERT_TRUE(buffer.Resize(3));
    EXPECT_EQ(buffer.AsText(), "abc");
    ASSERT_TRUE(buffer.Resize(0));
    EXPECT_EQ(buffer.Data(), nullptr);
}

TEST(ByteBufferTest, AssignFromEmptyKeepsContentsAndCopiesAreDeep) {
    ByteBuffer buffer(std::string_view("keep"));
    ASSERT_TRUE(buffer.Assign(ByteBuffer()));
    EXPECT_EQ(buffer.AsText(), "keep");

    ByteBuffer copy(buffer);
    copy.Data()[0] = 'K';
    EXPECT_EQ(buffer.AsText(), "keep");
    ByteBuffer moved(std::move(copy));
    EXPECT_EQ(moved.AsText(), "Keep");
    EXPECT_TRUE(copy.Empty());  // NOLINT(bugprone-use-after-move): moved-from is empty
    buffer = moved;
    EXPECT_EQ(buffer.AsText(), "Keep");
}

TEST(ByteBufferTest, ImpossibleSizesFailWithoutLosingData) {
    ByteBuffer buffer(std::string_view("data"));
    const std::uint64_t huge = std::numeric_limits<std::uint64_t>::max() - 2;
    EXPECT_FALSE(buffer.Resize(huge));
    EXPECT_EQ(buffer.AsText(), "data");
    EXPECT_FALSE(buffer.Append(buffer.Data(), huge));
    EXPECT_EQ(buffer.AsText(), "data");
    EXPECT_FALSE(buffer.Allocate(huge));
    EXPECT_TRUE(buffer.Empty());
}

}  // namespace
}  // namespace vesk
