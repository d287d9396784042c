// Name checks shared by the packer (what it refuses to publish) and the server
// (what it refuses to map onto the file system).
#include "NameRules.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace Tools {
namespace {

bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '_' || c == '-' ||
           c == '+' || c == '~';
}

bool CheckSegment(std::string_view name, size_t maxLength, std::string& reason) {
    if (name.empty()) {
        reason = "the name is empty";
        return false;
    }
    if (name.size() > maxLength) {
        reason = "the name is longer than " + std::to_string(maxLength) + " characters";
        return false;
    }
    if (name.front() == '.') {
        reason = "the name starts with \".\"";
        return false;
    }
    auto bad = std::find_if(name.begin(), name.end(), [](char c) { return !IsNameChar(c); });
    if (bad != name.end()) {
        reason = "the name holds a character outside A-Z a-z 0-9 . _ - + ~";
        return false;
    }
    return true;
}

// Names Windows reserves for devices, with or without an extension.
bool IsReservedDeviceName(std::string_view name) {
    static constexpr std::array<std::string_view, 22> kReserved = {
        "CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2", "COM3", "COM4", "COM5", "COM6", "COM7",
        "COM8", "COM9", "LPT1", "LPT2", "LPT3", "LPT4", "LPT5", "LPT6", "LPT7", "LPT8", "LPT9"};
    std::string base(name.substr(0, name.find('.')));
    for (char& c : base) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return std::find(kReserved.begin(), kReserved.end(), base) != kReserved.end();
}

}  // namespace

bool CheckReleaseFileName(std::string_view name, std::string& reason) {
    if (!CheckSegment(name, 200, reason)) {
        return false;
    }
    if (IsReservedDeviceName(name)) {
        reason = "the name is reserved for a device on Windows";
        return false;
    }
    // The client stores every file under a local name with "_<product code>"
    // inserted before ".exe", or else 7 characters before the end.
    if (name.find(".exe") == std::string_view::npos && name.size() < 7) {
        reason = "names without \".exe\" need at least 7 characters";
        return false;
    }
    return true;
}

bool CheckReleaseName(std::string_view name, std::string& reason) {
    return CheckSegment(name, 100, reason);
}

bool CheckSubdirectory(std::string_view subdir, std::string& reason) {
    if (subdir.empty()) {
        reason = "the sub-directory is empty";
        return false;
    }
    size_t start = 0;
    while (true) {
        size_t slash = subdir.find('/', start);
        std::string_view segment = subdir.substr(start, slash - start);
        if (!CheckSegment(segment, 100, reason)) {
            reason = "segment \"" + std::string(segment) + "\" of the sub-directory: " + reason;
            return false;
        }
        if (slash == std::string_view::npos) {
            return true;
        }
        start = slash + 1;
    }
}

bool IsSafeIdentifier(std::string_view text) {
    return !text.empty() && text.size() <= 64 && std::all_of(text.begin(), text.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '_' || c == '-';
    });
}

}  // namespace Tools
