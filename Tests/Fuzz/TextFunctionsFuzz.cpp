// The text helpers that see server text: narrow/wide and UTF-8 conversion, Base64, URL
// encoding, URL splitting and parsing, splitting, replacing and case-insensitive search.
#include <cstdlib>
#include <vector>

#include "FuzzInput.h"
#include "Support/Formatting.h"
#include "Support/StringUtils.h"

using vesk::StringUtils;

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::SilenceStandardOutput();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    fuzz::FuzzInput input(data, size);
    const int radix = 2 + input.Byte() % 35;
    const std::string delimiter = input.Piece();
    const std::string replacement = input.Piece();
    const std::string text = input.Rest();

    const std::string base64 =
        StringUtils::Base64Encode(text.data(), static_cast<int>(text.size()));
    if (base64.size() != (text.size() + 2) / 3 * 4) {
        std::abort();
    }
    (void)StringUtils::IntToString(static_cast<std::int32_t>(text.size() * 2654435761u), radix);

    const std::u16string wide = StringUtils::ToWide(text);
    const std::u16string units = fuzz::AsUtf16(text);
    (void)StringUtils::ToNarrow(units);
    (void)vesk::WideToUtf8(units);
    (void)vesk::Utf8ToWide(text);
    const std::u16string encoded = StringUtils::UrlEncode(units);
    for (const char16_t c : encoded) {
        if (c > 0x7F) {
            std::abort();
        }
    }
    (void)StringUtils::UrlEncode(wide);

    std::u16string host = u"keep";
    std::u16string path = u"keep";
    int port = 0;
    bool secure = false;
    StringUtils::SplitUrl(wide, host, path, port, secure);
    StringUtils::SplitUrl(units, host, path, port, secure);
    (void)vesk::ParseUrl(wide);
    (void)vesk::ParseUrl(units);
    (void)StringUtils::GetFileName(text);
    (void)StringUtils::GetFileName(units);

    std::vector<std::string> pieces;
    StringUtils::Split(text, delimiter, pieces, true);
    StringUtils::Split(text, delimiter, pieces, false);
    std::vector<std::u16string> widePieces;
    const std::u16string wideDelimiter = StringUtils::ToWide(delimiter);
    StringUtils::Split(wide, wideDelimiter, widePieces, true);
    (void)StringUtils::Join(widePieces, wideDelimiter);
    (void)vesk::SplitView(text, delimiter);

    std::string replaced = text;
    StringUtils::ReplaceAll(replaced, delimiter, replacement);
    std::u16string wideReplaced = wide;
    StringUtils::ReplaceAll(wideReplaced, wideDelimiter, StringUtils::ToWide(replacement));
    wideReplaced = wide;
    StringUtils::ReplaceAllNoCase(wideReplaced, wideDelimiter, StringUtils::ToWide(replacement));
    (void)StringUtils::FindNoCase(text, delimiter);
    (void)StringUtils::FindNoCase(wide, wideDelimiter);
    std::string lowered = text;
    StringUtils::ToLower(lowered);
    return 0;
}
