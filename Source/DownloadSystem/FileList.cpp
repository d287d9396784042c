// Parsing of the release's file list and the naming rules for listed files.
#include "DownloadSystem/FileList.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <limits>

#include "Support/StringUtils.h"

namespace DownloadSystem {

using vesk::StringUtils;

FileList ParseFileListText(std::u16string_view text) {
    FileList list;
    std::vector<std::u16string> pieces;
    if (StringUtils::Split(text, u";", pieces, true) == 0) {
        return list;
    }
    // The last piece is what follows the last ";": an unfinished entry.
    pieces.pop_back();
    for (const std::u16string& piece : pieces) {
        FileListEntry entry;
        StringUtils::Split(piece, u"\r\n", entry.fields, true);
        while (!entry.fields.empty() && entry.fields.back().empty()) {
            entry.fields.pop_back();
        }
        list.push_back(std::move(entry));
    }
    return list;
}

std::u16string MakeLocalName(std::u16string_view name, std::u16string_view suffix) {
    const std::size_t tail = name.find(u".exe") != std::u16string_view::npos ? 4 : 7;
    const std::size_t at = name.size() >= tail ? name.size() - tail : 0;
    std::u16string local(name.substr(0, at));
    local += suffix;
    local += name.substr(at);
    return local;
}

namespace {
// Windows opens a device, not a file, for these names, with any extension.
bool IsReservedDeviceName(std::u16string_view name) {
    std::u16string stem(name.substr(0, name.find(u'.')));
    while (!stem.empty() && stem.back() == u' ') {
        stem.pop_back();
    }
    StringUtils::ToLower(stem);
    if (stem == u"con" || stem == u"prn" || stem == u"aux" || stem == u"nul") {
        return true;
    }
    return stem.size() == 4 && (stem.starts_with(u"com") || stem.starts_with(u"lpt")) &&
           stem[3] >= u'1' && stem[3] <= u'9';
}
}  // namespace

bool IsPlainFileName(std::u16string_view name) {
    if (name.empty() || name == u"." || name == u"..") {
        return false;
    }
    for (char16_t c : name) {
        if (c == u'/' || c == u'\\' || c == u':' || c < 0x20 || c == 0x7F) {
            return false;
        }
        // Characters no Windows file name may hold: such a list could never verify there.
        if (c == u'<' || c == u'>' || c == u'"' || c == u'|' || c == u'?' || c == u'*') {
            return false;
        }
    }
    // Windows drops a trailing dot or space, so the file would land under another name.
    if (name.back() == u'.' || name.back() == u' ') {
        return false;
    }
    return !IsReservedDeviceName(name);
}

std::u16string LocalPathKey(std::u16string_view path) {
    std::u16string key(path);
    for (char16_t& c : key) {
        if (c == u'\\') {
            c = u'/';
        }
    }
    return StringUtils::ToLower(key);
}

bool IsSameLocalPath(std::u16string_view a, std::u16string_view b) {
    return LocalPathKey(a) == LocalPathKey(b);
}

std::uint32_t ParseListSize(std::u16string_view text) {
    const std::string narrow = StringUtils::ToNarrow(text);
    errno = 0;
    const unsigned long long value = std::strtoull(narrow.c_str(), nullptr, 0);
    if (errno == ERANGE || value > std::numeric_limits<std::uint32_t>::max()) {
        return std::numeric_limits<std::uint32_t>::max();
    }
    return static_cast<std::uint32_t>(value);
}

std::int32_t ParseExpectedCrc(std::u16string_view text) {
    const std::string narrow = StringUtils::ToNarrow(text);
    errno = 0;
    const long long value = std::strtoll(narrow.c_str(), nullptr, 10);
    if (value > std::numeric_limits<std::int32_t>::max()) {
        return std::numeric_limits<std::int32_t>::max();
    }
    if (value < std::numeric_limits<std::int32_t>::min()) {
        return std::numeric_limits<std::int32_t>::min();
    }
    return static_cast<std::int32_t>(value);
}

std::optional<std::uint64_t> ListedSizeBound(std::u16string_view text) {
    // Leading zeros would read as octal in the size field; such a field bounds nothing.
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text.front() == u'0')) {
        return std::nullopt;
    }
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') {
            return std::nullopt;
        }
    }
    const std::uint32_t size = ParseListSize(text);
    if (size == std::numeric_limits<std::uint32_t>::max()) {
        return std::nullopt;
    }
    return size;
}

std::u16string JoinUrlPath(std::initializer_list<std::u16string_view> parts) {
    std::u16string path;
    for (std::u16string_view part : parts) {
        while (!part.empty() && part.front() == u'/') {
            part.remove_prefix(1);
        }
        while (!part.empty() && part.back() == u'/') {
            part.remove_suffix(1);
        }
        if (!part.empty()) {
            path += u'/';
            path += part;
        }
    }
    return path.empty() ? std::u16string(u"/") : path;
}

std::optional<std::array<std::uint8_t, 32>> ParseListedSha256(std::u16string_view text) {
    if (text.size() != 64) {
        return std::nullopt;
    }
    std::array<std::uint8_t, 32> digest{};
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t c = text[i];
        int value = -1;
        if (c >= u'0' && c <= u'9') {
            value = c - u'0';
        } else if (c >= u'a' && c <= u'f') {
            value = c - u'a' + 10;
        } else if (c >= u'A' && c <= u'F') {
            value = c - u'A' + 10;
        }
        if (value < 0) {
            return std::nullopt;
        }
        digest[i / 2] = static_cast<std::uint8_t>(digest[i / 2] * 16 + value);
    }
    return digest;
}

}  // namespace DownloadSystem
