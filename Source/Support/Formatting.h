// Formatting and text helpers of the interface and the download core: byte sizes,
// random identifiers, URL parsing, splitting, and UTF-8 conversion.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace vesk {

// "1023 B", "1.50 kB", "1.00 MB", "5.00 GB" (units are powers of 1024).
std::string FormatByteSize(std::uint64_t bytes);

// `length` characters drawn from `alphabet` by a clock-seeded MT19937. Empty when
// the length is 0 or the alphabet is empty.
std::string RandomString(std::uint32_t length, std::string_view alphabet);

struct UrlParts {
    std::u16string query;     // from "?" (included) to the end
    std::u16string path;      // from the first "/" after the host (included) to the query
    std::u16string protocol;  // before "://"
    std::u16string host;
    std::u16string port;  // the text after the host's ":"
};

UrlParts ParseUrl(std::u16string_view url);

// Splits on the delimiter, dropping empty pieces except the last; a text whose
// pieces before the last delimiter are all empty (or that lacks the delimiter, or an
// empty delimiter) comes back whole. Empty text gives an empty list.
std::vector<std::string> SplitView(std::string_view text, std::string_view delimiter);

std::string WideToUtf8(std::u16string_view text);
std::u16string Utf8ToWide(std::string_view text);

}  // namespace vesk
