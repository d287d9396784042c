// Percent-decoding helpers.
#include "PercentDecoding.h"

namespace Tools {
namespace {

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

}  // namespace

bool PercentDecode(std::string_view text, bool plusIsSpace, std::string& out) {
    out.clear();
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (c == '%') {
            if (i + 2 >= text.size()) {
                return false;
            }
            int high = HexValue(text[i + 1]);
            int low = HexValue(text[i + 2]);
            if (high < 0 || low < 0) {
                return false;
            }
            out.push_back(static_cast<char>(high * 16 + low));
            i += 2;
        } else if (c == '+' && plusIsSpace) {
            out.push_back(' ');
        } else {
            out.push_back(c);
        }
    }
    return true;
}

bool ParseFormBody(std::string_view body, std::map<std::string, std::string>& fields) {
    size_t start = 0;
    while (start <= body.size()) {
        size_t end = body.find('&', start);
        if (end == std::string_view::npos) {
            end = body.size();
        }
        std::string_view pair = body.substr(start, end - start);
        if (!pair.empty()) {
            size_t equals = pair.find('=');
            std::string name;
            std::string value;
            if (!PercentDecode(pair.substr(0, equals), true, name) ||
                (equals != std::string_view::npos &&
                 !PercentDecode(pair.substr(equals + 1), true, value))) {
                return false;
            }
            fields[name] = value;
        }
        start = end + 1;
    }
    return true;
}

}  // namespace Tools
