// ByteBuffer: construction, growth keeping contents, appends of every kind, copies
// and moves, and refusal of impossible sizes without losing the old block; the capped
// buffer's bound, which no append may pass, not even by one byte or by overflow.
#include "Support/ByteBuffer.h"
#include "Support/CappedBuffer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

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

TEST(CappedBufferTest, NoAppendTakesTheBlockPastItsCap) {
    struct Row {
        std::uint64_t cap;
        std::size_t held;  // bytes appended first (within the cap)
        std::size_t more;  // then this many
        bool taken;
    };
    const Row rows[] = {
        {0, 0, 0, true},  {0, 0, 1, false}, {8, 0, 8, true}, {8, 3, 5, true},
        {8, 3, 6, false}, {8, 8, 1, false}, {8, 8, 0, true}, {3, 0, 8, false},
    };
    const std::string bytes(16, 'x');
    for (const Row& row : rows) {
        CappedBuffer buffer(row.cap);
        ASSERT_TRUE(buffer.Append(bytes.data(), row.held));
        EXPECT_EQ(buffer.Append(bytes.data(), row.more), row.taken)
            << row.cap << " " << row.held << " " << row.more;
        EXPECT_EQ(buffer.Size(), row.held + (row.taken ? row.more : 0));
    }
    // A size that would wrap the sum around is refused, and the bytes held stay.
    CappedBuffer buffer(std::numeric_limits<std::uint64_t>::max());
    ASSERT_TRUE(buffer.Append("ab", 2));
    EXPECT_FALSE(buffer.Append(bytes.data(), std::numeric_limits<std::size_t>::max()));
    EXPECT_EQ(buffer.View(), "ab");
    buffer.Free();
    EXPECT_TRUE(buffer.Empty());
}

}  // namespace
}  // namespace vesk
