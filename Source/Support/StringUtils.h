// Text operations the whole system shares: narrow/wide conversion, Base64, URL
// encoding, splitting, joining, replacing, case-insensitive search, URL splitting,
// file names and message digests. Narrow text is UTF-8; wide text is UTF-16.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "Support/ByteBuffer.h"

namespace vesk {

// Digest selector; other values are accepted and give an empty digest.
enum class HashAlgorithm : int { Sha1 = 0, Md5 = 1, Sha256 = 2 };

class StringUtils {
public:
    virtual ~StringUtils() = default;

    static std::string ToNarrow(std::u16string_view text);
    static std::u16string ToWide(std::string_view text);

    // Standard Base64 with "=" padding; a negative length gives empty text.
    static std::string Base64Encode(const void* bytes, int length);

    // Percent-encodes everything but ASCII letters and digits, as lower-case %xx of
    // each unit's UTF-8 bytes (surrogate halves are encoded one by one).
    static std::u16string UrlEncode(std::u16string_view text);

    // Integer to text in `radix` (2..36); a minus sign only for negative values in
    // radix 10, other radixes show the 32-bit two's complement (-1 in 16: ffffffff).
    static std::string IntToString(std::int32_t value, int radix = 10);
    static std::u16string IntToWString(std::int32_t value, int radix = 10);

    // Appends the pieces between the delimiter's occurrences to `out` (not cleared),
    // skipping empty pieces unless `keepEmpty`. Returns the number of occurrences;
    // text without the delimiter (or an empty text or delimiter) adds nothing.
    static std::size_t Split(std::string_view text, std::string_view delimiter,
                             std::vector<std::string>& out, bool keepEmpty);
    static std::size_t Split(std::u16string_view text, std::u16string_view delimiter,
                             std::vector<std::u16string>& out, bool keepEmpty);

    // Concatenates the items, putting the separator before an item only when the
    // text built so far is non-empty.
    static std::u16string Join(const std::vector<std::u16string>& items,
                               std::u16string_view separator);

    // Replaces the pattern until it no longer occurs (so "aa" -> "a" turns "aaa" into
    // "a"). That rewriting only ends when the replacement is shorter than the pattern,
    // so a replacement at least as long is done in one left-to-right pass instead. An
    // empty pattern changes nothing. Returns `text`.
    static std::string& ReplaceAll(std::string& text, std::string_view pattern,
                                   std::string_view replacement);
    static std::u16string& ReplaceAll(std::u16string& text, std::u16string_view pattern,
                                      std::u16string_view replacement);
    // The same with an ASCII case-insensitive search.
    static std::u16string& ReplaceAllNoCase(std::u16string& text, std::u16string_view pattern,
                                            std::u16string_view replacement);

    // Position of the first ASCII case-insensitive occurrence, or npos.
    static std::size_t FindNoCase(std::string_view text, std::string_view pattern);
    static std::size_t FindNoCase(std::u16string_view text, std::u16string_view pattern);

    // Lower-cases A-Z in place; returns `text`.
    static std::string& ToLower(std::string& text);
    static std::u16string& ToLower(std::u16string& text);

    // What follows the last "/" or backslash; empty when there is none.
    static std::string GetFileName(std::string_view path);
    static std::u16string GetFileName(std::u16string_view path);

    // Splits "http[s]://host[:port]/path" into host, path (no leading "/"), port
    // (80, 443 or the explicit one) and secure. A url without "/" after the scheme
    // leaves host and path as the caller had them.
    static void SplitUrl(std::u16string url, std::u16string& host, std::u16string& path, int& port,
                         bool& secure);

    // The digest of the bytes; empty on failure or for an unknown algorithm.
    static ByteBuffer Hash(const void* bytes, std::uint64_t length, HashAlgorithm algorithm);
};

}  // namespace vesk
