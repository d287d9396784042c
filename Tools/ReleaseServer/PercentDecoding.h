// Percent-decoding of request targets and form bodies.
#pragma once

#include <map>
#include <string>
#include <string_view>

namespace Tools {

// Decodes %XX escapes (and "+" as a space when `plusIsSpace`). False when an
// escape is malformed.
bool PercentDecode(std::string_view text, bool plusIsSpace, std::string& out);

// Parses an application/x-www-form-urlencoded body. False on a malformed escape.
bool ParseFormBody(std::string_view body, std::map<std::string, std::string>& fields);

}  // namespace Tools
