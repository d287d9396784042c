// The application log: one process-wide list of ErrorInfo entries that every layer
// records into with its source file and line, the list of errors the user must see,
// and the user messages of the error screen. Every call takes the log's one lock, so
// "log_index" values are unique and follow the order of the entries.
//
// Each recording is also echoed to standard output as one text:
//   message[ Error code: 0x<hex>[ <WinINet name>| Windows error message: <text>]]
//   [ File: <file>][ Line: <line>][ At: <asctime local time>]
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace vesk {

// One entry: an object with the keys "message", "detailed_message", "error_number",
// "file", "line" and "log_index" (serialised with its keys sorted).
using ErrorInfo = nlohmann::json;

// The system's own error numbers; all others are system or WinINet-style codes.
namespace ErrorNumber {
inline constexpr int DownloadAttemptsExceeded = -32767;
inline constexpr int RetryingDownload = -32766;
inline constexpr int DownloadMalfunction = -32765;
inline constexpr int ResponseStatusNot200 = -32764;
inline constexpr int ErrorsResolved = -32763;
inline constexpr int SetupMissing = -32762;
inline constexpr int FileDeletedByOthers = -32761;
inline constexpr int FileRenamedByOthers = -32760;
inline constexpr int HostsRedirected = -32759;
inline constexpr int CrcMismatch = -3;
}  // namespace ErrorNumber

// A progress note (error number 0). The wide form ends its text with "\r\n" instead
// of the time and returns it.
void LogInfo(std::string_view message, std::string_view file, int line);
std::u16string LogInfo(std::u16string_view message, std::string_view file, int line);

// A failure the caller recovers from. The wide form has no time and returns its text.
void LogFailure(std::string_view message, int errorNumber, std::string_view file, int line);
std::u16string LogFailure(std::u16string_view message, int errorNumber, std::string_view file,
                          int line);

// A failure the user must see: also appended to the error messages, which turns the
// end of a download into the error screen.
void ReportError(std::string_view message, int errorNumber, std::string_view file, int line);
void ReportError(std::u16string_view message, int errorNumber, std::string_view file, int line);

// The text a recording would build (without WinINet names and without the time),
// echoed but not recorded.
std::u16string FormatErrorText(std::u16string_view message, int errorNumber, std::string_view file,
                               int line);

// Appends a non-empty user message; GetUserMessage gives the last one or empty text.
void SetUserMessage(std::string_view text);
void SetUserMessage(std::u16string_view text);
std::string GetUserMessage();

// The bare messages of the ReportError calls since the last ClearErrors.
std::vector<std::string> GetErrorMessages();
std::size_t GetErrorCount();
// True when an entry carries a non-zero error number.
bool HasLoggedErrors();
// All entries in order, as one JSON array. Every text in them is valid UTF-8: bytes of a
// recorded text that are not become U+FFFD.
nlohmann::json GetLogEntries();
// The compact JSON text of `entries` as the log report carries it. Never throws: text
// that is not valid UTF-8 comes out with U+FFFD in place of the bad bytes.
std::string LogEntriesToJsonText(const nlohmann::json& entries);
// LogEntriesToJsonText of GetLogEntries().
std::string GetLogReportText();

// Writes every entry as text, entries separated by "\t\n", replacing the file.
// Returns false (and records the failure) when the file cannot be written; the
// entries stay in memory either way.
bool WriteLogFile(const std::string& path);

// Empties the entries and the error messages; user messages stay.
void ClearErrors();

// WinINet-style constant name of an HTTP-layer error code, or empty text.
std::string_view GetWinInetErrorName(int code);
// True for 12000 to 12188 inclusive.
bool IsWinInetError(int code);

}  // namespace vesk

// Recording at the call site, with its file and line.
#define VESK_LOG_INFO(message) ::vesk::LogInfo((message), __FILE__, __LINE__)
#define VESK_LOG_FAILURE(message, errorNumber) \
    ::vesk::LogFailure((message), (errorNumber), __FILE__, __LINE__)
#define VESK_REPORT_ERROR(message, errorNumber) \
    ::vesk::ReportError((message), (errorNumber), __FILE__, __LINE__)
