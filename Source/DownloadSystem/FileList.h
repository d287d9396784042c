// The release's file list: its entries, the parser for the list text, and the rules
// that turn a listed name into the local file name (suffix insertion, safety check,
// size and CRC fields).
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace DownloadSystem {

// One listed file: field 0 the name on the content server, field 1 the size in bytes,
// field 2 the expected CRC-32 as signed decimal. Further fields are kept, never read.
struct FileListEntry {
    std::vector<std::u16string> fields;

    bool HasFields() const { return !fields.empty(); }
    // Entries with fewer than three fields are neither downloaded nor verified.
    bool IsComplete() const { return fields.size() >= 3; }
    const std::u16string& Name() const { return fields.at(0); }
};

using FileList = std::vector<FileListEntry>;

// Parses the list text: entries end with ";" (whatever follows the last ";" is
// dropped, so a text without any ";" is an empty list), fields are separated by
// "\r\n", and empty fields at the end of an entry are removed.
FileList ParseFileListText(std::u16string_view text);

// The local name of a listed file: `suffix` inserted 4 characters before the end
// when the name contains ".exe", otherwise 7 characters before the end (the length
// of a slice suffix such as "-1a.bin"). A name without ".exe" that is shorter than 7
// characters gets the suffix in front, so its extension stays intact.
std::u16string MakeLocalName(std::u16string_view name, std::u16string_view suffix);

// True when `name` can only name a file directly inside a folder, on every system: not
// empty, not "." or "..", without "/", "\\", ":", control characters or the characters
// Windows refuses (< > " | ? *), not ending in a dot or a space, and not a Windows device
// name (CON, PRN, AUX, NUL, COM1-9, LPT1-9, with any extension). A list is thus valid
// everywhere or nowhere.
bool IsPlainFileName(std::u16string_view name);

// The form in which local paths compare as Windows compares them: "\\" taken as "/",
// ASCII letters in lower case. Equal keys name one file there.
std::u16string LocalPathKey(std::u16string_view path);

// True when two paths have the same key (the running program's path against a listed
// file's, two listed names against each other).
bool IsSameLocalPath(std::u16string_view a, std::u16string_view b);

// Field 1: unsigned decimal (a leading "0x" means hexadecimal, a leading "0" octal),
// saturating at 4294967295; text without digits gives 0.
std::uint32_t ParseListSize(std::u16string_view text);

// Field 2: signed decimal after optional white space and sign, reading up to the
// first non-digit, saturating at the 32-bit limits; text without digits gives 0.
// A CRC with its top bit set is therefore written as its negative two's complement.
std::int32_t ParseExpectedCrc(std::u16string_view text);

// Field 3 of a signed list: the file's SHA-256 as 64 hex digits; nothing for any other
// text.
std::optional<std::array<std::uint8_t, 32>> ParseListedSha256(std::u16string_view text);

// The size a listed file must have, when field 1 is a plain decimal number below
// 4294967295 (a field that is not, or a saturated one, bounds nothing).
std::optional<std::uint64_t> ListedSizeBound(std::u16string_view text);

// An absolute object path: "/" followed by the non-empty parts joined with "/", each
// without leading or trailing "/". Empty parts add nothing, so an empty folder never
// gives "//".
std::u16string JoinUrlPath(std::initializer_list<std::u16string_view> parts);

}  // namespace DownloadSystem
