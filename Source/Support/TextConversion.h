// The one place where UTF-16 and UTF-8 text are converted into each other. Narrow
// text is UTF-8 on this system, so StringUtils and the formatting helpers both use it.
#pragma once

#include <string>
#include <string_view>

namespace vesk::Text {

// Unpaired surrogates become '?', as a code-page conversion shows characters it
// cannot represent.
std::string Utf16ToUtf8(std::u16string_view text);

// Malformed or overlong byte sequences become U+FFFD, one per bad byte.
std::u16string Utf8ToUtf16(std::string_view text);

// `text` as valid UTF-8: every byte that is not part of a well-formed sequence becomes
// U+FFFD, so the result can be stored in JSON and sent as it is.
std::string ValidUtf8(std::string_view text);

}  // namespace vesk::Text
