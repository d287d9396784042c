// Choosing the download error screen's text from the error log.
#include "ErrorScreenText.h"

#include <cctype>
#include <string_view>

#include "Support/ErrorLog.h"

namespace vesk {

namespace {

constexpr const char* SetupStartedText =
    "Sorvan setup has been started. Errors occurred during the download but were resolved. "
    "Press Exit to send the download log to our Support Center.";
constexpr const char* FailedLead = "The download could not be completed: ";

bool IsNameCharacter(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

// Length of a leading "Class::Method" (optionally followed by "()", " ->" and spaces), or 0
// when the message does not start with one.
std::size_t DeveloperPrefixLength(std::string_view message) {
    std::size_t i = 0;
    while (i < message.size() && IsNameCharacter(message[i])) {
        ++i;
    }
    if (i == 0 || message.substr(i, 2) != "::") {
        return 0;
    }
    i += 2;
    const std::size_t methodStart = i;
    while (i < message.size() && IsNameCharacter(message[i])) {
        ++i;
    }
    if (i == methodStart) {
        return 0;
    }
    if (message.substr(i, 2) == "()") {
        i += 2;
    }
    while (i < message.size() && (message[i] == ' ' || message[i] == ':')) {
        ++i;
    }
    if (message.substr(i, 2) == "->") {
        i += 2;
    }
    while (i < message.size() && message[i] == ' ') {
        ++i;
    }
    return i;
}

}  // namespace

bool WasSetupStartedAfterErrors(const nlohmann::json& logEntries) {
    if (!logEntries.is_array()) {
        return false;
    }
    for (const auto& entry : logEntries) {
        if (entry.is_object() && entry.value("error_number", 0) == ErrorNumber::ErrorsResolved) {
            return true;
        }
    }
    return false;
}

std::string DownloadErrorScreenText(const std::string& userMessage,
                                    const std::vector<std::string>& errorMessages,
                                    bool setupStarted) {
    if (!userMessage.empty()) {
        return userMessage;
    }
    if (setupStarted) {
        return SetupStartedText;
    }
    if (errorMessages.empty()) {
        return {};
    }
    const std::string& last = errorMessages.back();
    const std::size_t prefix = DeveloperPrefixLength(last);
    if (prefix == 0) {
        return last;
    }
    return FailedLead + last.substr(prefix);
}

}  // namespace vesk
