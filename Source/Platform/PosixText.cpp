// UTF-16 <-> UTF-8 conversion for the Linux backends (paths, names from the system).
#include "Platform/PosixText.h"

#include <cerrno>
#include <cstdint>

namespace Platform::Posix {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

void AppendUtf16(std::u16string& out, char32_t c) {
    if (c < 0x10000) {
        out += static_cast<char16_t>(c);
    } else {
        c -= 0x10000;
        out += static_cast<char16_t>(0xD800 + (c >> 10));
        out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
    }
}

}  // namespace

bool ToNativePath(std::u16string_view path, std::string& native) {
    native.clear();
    native.reserve(path.size());
    for (std::size_t i = 0; i < path.size(); ++i) {
        char32_t c = path[i];
        if (c == 0) {
            errno = EINVAL;
            return false;
        }
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 1 == path.size() || path[i + 1] < 0xDC00 || path[i + 1] > 0xDFFF) {
                errno = EINVAL;
                return false;
            }
            c = 0x10000 + ((c - 0xD800) << 10) + (path[i + 1] - 0xDC00);
            ++i;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            errno = EINVAL;
            return false;
        }
        AppendUtf8(native, c);
    }
    return true;
}

std::u16string FromNative(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<std::uint8_t>(text[i]);
        int length = 0;
        char32_t c = 0;
        char32_t minimum = 0;
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            ++i;
            continue;
        } else if ((lead & 0xE0) == 0xC0) {
            length = 2, c = lead & 0x1F, minimum = 0x80;
        } else if ((lead & 0xF0) == 0xE0) {
            length = 3, c = lead & 0x0F, minimum = 0x800;
        } else if ((lead & 0xF8) == 0xF0) {
            length = 4, c = lead & 0x07, minimum = 0x10000;
        } else {
            out += static_cast<char16_t>(kReplacement);
            ++i;
            continue;
        }
        int taken = 1;
        while (taken < length && i + taken < text.size() &&
               (static_cast<std::uint8_t>(text[i + taken]) & 0xC0) == 0x80) {
            c = (c << 6) | (static_cast<std::uint8_t>(text[i + taken]) & 0x3F);
            ++taken;
        }
        // Truncated, overlong, surrogate or out-of-range sequences are replaced
        // as a whole; the bytes consumed so far are skipped.
        if (taken < length || c < minimum || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
            out += static_cast<char16_t>(kReplacement);
        } else {
            AppendUtf16(out, c);
        }
        i += taken;
    }
    return out;
}

}  // namespace Platform::Posix
