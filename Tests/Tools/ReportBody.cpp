#include "ReportBody.h"

#include <gtest/gtest.h>
#include <zlib.h>

namespace ToolsTest {

std::string Gzip(std::string_view bytes) {
    z_stream stream{};
    EXPECT_EQ(deflateInit2(&stream, 9, Z_DEFLATED, 15 + 16, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::string out(deflateBound(&stream, bytes.size()), '\0');
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(bytes.data()));
    stream.avail_in = static_cast<uInt>(bytes.size());
    stream.next_out = reinterpret_cast<Bytef*>(out.data());
    stream.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&stream, Z_FINISH), Z_STREAM_END);
    out.resize(stream.total_out);
    deflateEnd(&stream);
    return out;
}

std::string Utf16Le(std::string_view ascii) {
    std::string out;
    out.reserve(ascii.size() * 2);
    for (char c : ascii) {
        out.push_back(c);
        out.push_back('\0');
    }
    return out;
}

std::string Utf16Le(std::u16string_view text) {
    std::string out;
    out.reserve(text.size() * 2);
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
    return out;
}

}  // namespace ToolsTest
