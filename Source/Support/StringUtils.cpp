// StringUtils: the shared text operations.
#include "Support/StringUtils.h"

#include <array>

#include "Platform/Crypto.h"
#include "Support/TextConversion.h"

namespace vesk {

namespace {

template <typename Char>
Char LowerAscii(Char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<Char>(c - 'A' + 'a') : c;
}

template <typename Char>
std::size_t FindNoCaseFrom(std::basic_string_view<Char> text, std::basic_string_view<Char> pattern,
                           std::size_t from) {
    if (pattern.size() > text.size()) {
        return std::basic_string_view<Char>::npos;
    }
    for (std::size_t i = from; i + pattern.size() <= text.size(); ++i) {
        std::size_t k = 0;
        while (k < pattern.size() && LowerAscii(text[i + k]) == LowerAscii(pattern[k])) {
            ++k;
        }
        if (k == pattern.size()) {
            return i;
        }
    }
    return std::basic_string_view<Char>::npos;
}

template <typename Char>
std::size_t FindExact(std::basic_string_view<Char> text, std::basic_string_view<Char> pattern,
                      std::size_t from) {
    return text.find(pattern, from);
}

template <typename Char, typename Finder>
std::basic_string<Char>& Replace(std::basic_string<Char>& text,
                                 std::basic_string_view<Char> pattern,
                                 std::basic_string_view<Char> replacement, Finder find) {
    if (pattern.empty()) {
        return text;
    }
    const bool shrinking = replacement.size() < pattern.size();
    std::size_t from = 0;
    std::size_t at;
    while ((at = find(std::basic_string_view<Char>(text), pattern, from)) !=
           std::basic_string_view<Char>::npos) {
        text.replace(at, pattern.size(), replacement);
        // Rewriting until no occurrence is left equals restarting just before the
        // replacement: nothing earlier can have started a new match.
        from = shrinking ? (at >= pattern.size() - 1 ? at - (pattern.size() - 1) : 0)
                         : at + replacement.size();
    }
    return text;
}

template <typename Char>
std::size_t SplitText(std::basic_string_view<Char> text, std::basic_string_view<Char> delimiter,
                      std::vector<std::basic_string<Char>>& out, bool keepEmpty) {
    if (text.empty() || delimiter.empty()) {
        return 0;
    }
    std::vector<std::size_t> positions;
    for (std::size_t at = text.find(delimiter); at != std::basic_string_view<Char>::npos;
         at = text.find(delimiter, at + delimiter.size())) {
        positions.push_back(at);
    }
    if (positions.empty()) {
        return 0;
    }
    std::size_t start = 0;
    const auto add = [&](std::size_t end) {
        if (end > start || keepEmpty) {
            out.emplace_back(start < end ? text.substr(start, end - start)
                                         : std::basic_string_view<Char>());
        }
    };
    for (const std::size_t at : positions) {
        add(at);
        start = at + delimiter.size();
    }
    add(text.size());
    return positions.size();
}

template <typename Char>
std::basic_string<Char> FileName(std::basic_string_view<Char> path) {
    const std::size_t slash = path.find_last_of(std::basic_string_view<Char>(
        std::array<Char, 2>{static_cast<Char>('/'), static_cast<Char>('\\')}.data(), 2));
    if (slash == std::basic_string_view<Char>::npos) {
        return {};
    }
    return std::basic_string<Char>(path.substr(slash + 1));
}

template <typename Char>
std::basic_string<Char> IntegerText(std::int32_t value, int radix) {
    if (radix < 2 || radix > 36) {
        return {};
    }
    const bool negative = value < 0 && radix == 10;
    std::uint32_t magnitude =
        negative ? 0u - static_cast<std::uint32_t>(value) : static_cast<std::uint32_t>(value);
    std::basic_string<Char> digits;
    do {
        digits.insert(digits.begin(),
                      static_cast<Char>("0123456789abcdefghijklmnopqrstuvwxyz"[magnitude % radix]));
        magnitude /= static_cast<std::uint32_t>(radix);
    } while (magnitude != 0);
    if (negative) {
        digits.insert(digits.begin(), static_cast<Char>('-'));
    }
    return digits;
}

void AppendPercent(std::u16string& out, unsigned byte) {
    static constexpr char Hex[] = "0123456789abcdef";
    out += u'%';
    out += static_cast<char16_t>(Hex[(byte >> 4) & 0xF]);
    out += static_cast<char16_t>(Hex[byte & 0xF]);
}

}  // namespace

std::string StringUtils::ToNarrow(std::u16string_view text) {
    return Text::Utf16ToUtf8(text);
}

std::u16string StringUtils::ToWide(std::string_view text) {
    return Text::Utf8ToUtf16(text);
}

std::string StringUtils::Base64Encode(const void* bytes, int length) {
    static constexpr char Alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (bytes == nullptr || length <= 0) {
        return {};
    }
    const auto* in = static_cast<const std::uint8_t*>(bytes);
    const auto size = static_cast<std::size_t>(length);
    std::string out;
    out.reserve((size + 2) / 3 * 4);
    for (std::size_t i = 0; i < size; i += 3) {
        const std::size_t left = size - i;
        const std::uint32_t group = (std::uint32_t{in[i]} << 16) |
                                    (left > 1 ? std::uint32_t{in[i + 1]} << 8 : 0) |
                                    (left > 2 ? std::uint32_t{in[i + 2]} : 0);
        out += Alphabet[(group >> 18) & 0x3F];
        out += Alphabet[(group >> 12) & 0x3F];
        out += left > 1 ? Alphabet[(group >> 6) & 0x3F] : '=';
        out += left > 2 ? Alphabet[group & 0x3F] : '=';
    }
    return out;
}

std::u16string StringUtils::UrlEncode(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size() * 3);
    for (const char16_t unit : text) {
        if ((unit >= u'A' && unit <= u'Z') || (unit >= u'a' && unit <= u'z') ||
            (unit >= u'0' && unit <= u'9')) {
            out += unit;
        } else if (unit <= 0x7F) {
            AppendPercent(out, unit);
        } else if (unit <= 0x7FF) {
            AppendPercent(out, 0xC0 | (unit >> 6));
            AppendPercent(out, 0x80 | (unit & 0x3F));
        } else {
            AppendPercent(out, 0xE0 | (unit >> 12));
            AppendPercent(out, 0x80 | ((unit >> 6) & 0x3F));
            AppendPercent(out, 0x80 | (unit & 0x3F));
        }
    }
    return out;
}

std::string StringUtils::IntToString(std::int32_t value, int radix) {
    return IntegerText<char>(value, radix);
}

std::u16string StringUtils::IntToWString(std::int32_t value, int radix) {
    return IntegerText<char16_t>(value, radix);
}

std::size_t StringUtils::Split(std::string_view text, std::string_view delimiter,
                               std::vector<std::string>& out, bool keepEmpty) {
    return SplitText(text, delimiter, out, keepEmpty);
}

std::size_t StringUtils::Split(std::u16string_view text, std::u16string_view delimiter,
                               std::vector<std::u16string>& out, bool keepEmpty) {
    return SplitText(text, delimiter, out, keepEmpty);
}

std::u16string StringUtils::Join(const std::vector<std::u16string>& items,
                                 std::u16string_view separator) {
    std::u16string out;
    for (const auto& item : items) {
        if (!out.empty()) {
            out += separator;
        }
        out += item;
    }
    return out;
}

std::string& StringUtils::ReplaceAll(std::string& text, std::string_view pattern,
                                     std::string_view replacement) {
    return Replace(text, pattern, replacement, FindExact<char>);
}

std::u16string& StringUtils::ReplaceAll(std::u16string& text, std::u16string_view pattern,
                                        std::u16string_view replacement) {
    return Replace(text, pattern, replacement, FindExact<char16_t>);
}

std::u16string& StringUtils::ReplaceAllNoCase(std::u16string& text, std::u16string_view pattern,
                                              std::u16string_view replacement) {
    return Replace(text, pattern, replacement, FindNoCaseFrom<char16_t>);
}

std::size_t StringUtils::FindNoCase(std::string_view text, std::string_view pattern) {
    return FindNoCaseFrom(text, pattern, 0);
}

std::size_t StringUtils::FindNoCase(std::u16string_view text, std::u16string_view pattern) {
    return FindNoCaseFrom(text, pattern, 0);
}

std::string& StringUtils::ToLower(std::string& text) {
    for (char& c : text) {
        c = LowerAscii(c);
    }
    return text;
}

std::u16string& StringUtils::ToLower(std::u16string& text) {
    for (char16_t& c : text) {
        c = LowerAscii(c);
    }
    return text;
}

std::string StringUtils::GetFileName(std::string_view path) {
    return FileName(path);
}

std::u16string StringUtils::GetFileName(std::u16string_view path) {
    return FileName(path);
}

void StringUtils::SplitUrl(std::u16string url, std::u16string& host, std::u16string& path,
                           int& port, bool& secure) {
    secure = false;
    port = 80;
    if (FindNoCase(url, u"https://") != std::u16string::npos) {
        secure = true;
        port = 443;
        ReplaceAllNoCase(url, u"https://", u"");
    } else {
        ReplaceAllNoCase(url, u"http://", u"");
    }
    ReplaceAll(url, u"//", u"/");

    std::vector<std::u16string> pieces;
    if (Split(url, u"/", pieces, false) == 0 || pieces.empty()) {
        return;
    }
    host = pieces.front();
    pieces.erase(pieces.begin());
    path = Join(pieces, u"/");
    ReplaceAll(path, host + u"/", u"");

    std::vector<std::u16string> portPieces;
    Split(url, u":", portPieces, false);
    if (!portPieces.empty()) {
        const std::u16string& last = portPieces.back();
        std::size_t digits = 0;
        while (digits < last.size() && last[digits] >= u'0' && last[digits] <= u'9') {
            ++digits;
        }
        if (digits > 0) {
            ReplaceAll(host, u":" + last.substr(0, digits), u"");
            int value = 0;
            for (std::size_t i = 0; i < digits && value <= 65535; ++i) {
                value = value * 10 + (last[i] - u'0');
            }
            port = value;
        }
    }
}

ByteBuffer StringUtils::Hash(const void* bytes, std::uint64_t length, HashAlgorithm algorithm) {
    Platform::HashAlgorithm platformAlgorithm;
    switch (algorithm) {
        case HashAlgorithm::Sha1:
            platformAlgorithm = Platform::HashAlgorithm::Sha1;
            break;
        case HashAlgorithm::Md5:
            platformAlgorithm = Platform::HashAlgorithm::Md5;
            break;
        case HashAlgorithm::Sha256:
            platformAlgorithm = Platform::HashAlgorithm::Sha256;
            break;
        default:
            return {};
    }
    if (bytes == nullptr && length != 0) {
        return {};
    }
    const std::vector<std::uint8_t> digest =
        Platform::ComputeHash(platformAlgorithm, bytes, static_cast<std::size_t>(length));
    ByteBuffer out;
    out.Append(digest.data(), digest.size());
    return out;
}

}  // namespace vesk
