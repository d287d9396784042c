// What the download error screen says. The engine sets a user message for the failures it
// explains itself; every other failure is explained from the error it reported, so the
// screen never shows an empty panel. A run that recovered from its errors and started setup
// still ends on this screen (so the log can be sent), and then says that setup runs.
#pragma once

#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace vesk {

// True when the log holds the note the engine writes just before it starts setup after
// errors that resolved themselves.
bool WasSetupStartedAfterErrors(const nlohmann::json& logEntries);

// The screen's text: the user message when there is one; otherwise, when setup was
// started, a note saying so; otherwise the last reported error, with a leading
// "Class::Method" of a developer message taken off and said as the download's failure.
// Empty only when there is nothing at all to say.
std::string DownloadErrorScreenText(const std::string& userMessage,
                                    const std::vector<std::string>& errorMessages,
                                    bool setupStarted);

}  // namespace vesk
