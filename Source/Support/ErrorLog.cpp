// The error log's store and its recording, formatting and file-writing operations.
#include "Support/ErrorLog.h"

#include <algorithm>
#include <ctime>
#include <string>

#include "Platform/Files.h"
#include "Platform/SystemError.h"
#include "Support/ConsoleLog.h"
#include "Support/CriticalSection.h"
#include "Support/StringUtils.h"
#include "Support/TextConversion.h"

namespace vesk {

namespace {

// One recorded entry; its texts live back to back in the store's one text buffer. A run of
// thousands of files records thousands of entries from many short-lived threads: kept as
// objects of their own, they would be small allocations scattered among each thread's
// transfer buffers, holding those pages after the buffers are freed.
struct EntryRecord {
    std::size_t message;  // offsets into Store::text; each text runs to the next offset
    std::size_t detailed;
    std::size_t file;
    std::size_t end;
    int errorNumber;
    int line;
};

struct Store {
    CriticalSection lock;
    std::vector<EntryRecord> entries;
    std::string text;
    std::vector<std::string> errorMessages;
    std::vector<std::string> userMessages;

    void Add(std::string_view message, std::string_view detailed, std::string_view file,
             int errorNumber, int line) {
        EntryRecord entry{};
        entry.message = text.size();
        text += message;
        entry.detailed = text.size();
        text += detailed;
        entry.file = text.size();
        text += file;
        entry.end = text.size();
        entry.errorNumber = errorNumber;
        entry.line = line;
        entries.push_back(entry);
    }

    std::string_view Message(const EntryRecord& entry) const {
        return std::string_view(text).substr(entry.message, entry.detailed - entry.message);
    }
    std::string_view Detailed(const EntryRecord& entry) const {
        return std::string_view(text).substr(entry.detailed, entry.file - entry.detailed);
    }
    std::string_view File(const EntryRecord& entry) const {
        return std::string_view(text).substr(entry.file, entry.end - entry.file);
    }

    ErrorInfo ToErrorInfo(std::size_t index) const {
        const EntryRecord& entry = entries[index];
        return {
            {"message", Message(entry)},
            {"detailed_message", Detailed(entry)},
            {"error_number", entry.errorNumber},
            {"file", File(entry)},
            {"line", entry.line},
            {"log_index", index},
        };
    }
};

// Never destroyed: threads still recording while the process exits find it intact.
Store& TheStore() {
    static Store* store = new Store;
    return *store;
}

struct ErrorPart {
    std::string text;
    std::string detailed;
};

ErrorPart BuildErrorPart(int errorNumber, bool useWinInetNames) {
    ErrorPart part;
    part.text = " Error code: 0x" + StringUtils::IntToString(errorNumber, 16);
    if (useWinInetNames && IsWinInetError(errorNumber)) {
        part.detailed = std::string(GetWinInetErrorName(errorNumber));
        part.text += " " + part.detailed;
    } else if (errorNumber != 0) {
        part.detailed = Platform::SystemErrorText(errorNumber);
        if (!part.detailed.empty()) {
            part.text += " Windows error message: " + part.detailed;
        }
    }
    return part;
}

std::string Location(std::string_view file, int line) {
    std::string text;
    if (!file.empty()) {
        text += " File: ";
        text += file;
    }
    if (line != 0) {
        text += " Line: " + std::to_string(line);
    }
    return text;
}

// " At: " and the local time as asctime shows it ("Wed Jan 02 02:03:55 1980\n").
// Called under the store's lock, which also guards localtime's shared result.
std::string LocalTimeEnding() {
    static constexpr const char* Days[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
    static constexpr const char* Months[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                             "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    std::string text = " At: ";
    const std::time_t now = std::time(nullptr);
    const std::tm* local = std::localtime(&now);
    if (local == nullptr || local->tm_wday < 0 || local->tm_wday > 6 || local->tm_mon < 0 ||
        local->tm_mon > 11) {
        return text;
    }
    char buffer[64];
    std::snprintf(buffer, sizeof buffer, "%s %s %02d %02d:%02d:%02d %d\n", Days[local->tm_wday],
                  Months[local->tm_mon], local->tm_mday, local->tm_hour, local->tm_min,
                  local->tm_sec, local->tm_year + 1900);
    return text + buffer;
}

// Builds, records and echoes one entry; returns the whole text. Holds the lock.
std::string Record(std::string_view message, int errorNumber, bool hasErrorPart,
                   std::string_view file, int line, bool reportError, bool endWithTime,
                   std::string_view ending) {
    Store& store = TheStore();
    CriticalSectionLock lock(store.lock);
    // Messages often quote what a server sent; the entries must stay valid UTF-8 so the
    // report can always be serialised.
    const std::string cleanMessage = Text::ValidUtf8(message);
    const std::string cleanFile = Text::ValidUtf8(file);
    std::string text = cleanMessage;
    ErrorPart part;
    if (hasErrorPart) {
        part = BuildErrorPart(errorNumber, true);
        part.detailed = Text::ValidUtf8(part.detailed);
        text += part.text;
    }
    text += Location(file, line);

    store.Add(cleanMessage, part.detailed, cleanFile, hasErrorPart ? errorNumber : 0, line);
    if (reportError) {
        store.errorMessages.push_back(cleanMessage);
    }
    text += endWithTime ? LocalTimeEnding() : std::string(ending);
    PrintToStdout("%s", text.c_str());
    return text;
}

}  // namespace

void LogInfo(std::string_view message, std::string_view file, int line) {
    Record(message, 0, false, file, line, false, true, {});
}

std::u16string LogInfo(std::u16string_view message, std::string_view file, int line) {
    return StringUtils::ToWide(
        Record(StringUtils::ToNarrow(message), 0, false, file, line, false, false, "\r\n"));
}

void LogFailure(std::string_view message, int errorNumber, std::string_view file, int line) {
    Record(message, errorNumber, true, file, line, false, true, {});
}

std::u16string LogFailure(std::u16string_view message, int errorNumber, std::string_view file,
                          int line) {
    return StringUtils::ToWide(
        Record(StringUtils::ToNarrow(message), errorNumber, true, file, line, false, false, {}));
}

void ReportError(std::string_view message, int errorNumber, std::string_view file, int line) {
    Record(message, errorNumber, true, file, line, true, true, {});
}

void ReportError(std::u16string_view message, int errorNumber, std::string_view file, int line) {
    ReportError(StringUtils::ToNarrow(message), errorNumber, file, line);
}

std::u16string FormatErrorText(std::u16string_view message, int errorNumber, std::string_view file,
                               int line) {
    Store& store = TheStore();
    CriticalSectionLock lock(store.lock);
    std::string text = StringUtils::ToNarrow(message);
    text += BuildErrorPart(errorNumber, false).text;
    text += Location(file, line);
    PrintToStdout("%s", text.c_str());
    return StringUtils::ToWide(text);
}

void SetUserMessage(std::string_view text) {
    if (text.empty()) {
        return;
    }
    Store& store = TheStore();
    CriticalSectionLock lock(store.lock);
    store.userMessages.push_back(Text::ValidUtf8(text));
}

void SetUserMessage(std::u16string_view text) {
    SetUserMessage(StringUtils::ToNarrow(text));
}

std::string GetUserMessage() {
    Store& store = TheStore();
    CriticalSectionLock lock(store.lock);
    return store.userMessages.empty() ? std::string() : store.userMessages.back();
}

std::vector<std::string> GetErrorMessages() {
    Store& store = TheStore();
    CriticalSectionLock lock(store.lock);
    return store.errorMessages;
}

std::size_t GetErrorCount() {
    Store& store = TheStore();
    CriticalSectionLock lock(store.lock);
    return store.errorMessages.size();
}

bool HasLoggedErrors() {
    Store& store = TheStore();
    CriticalSectionLock lock(store.lock);
    return std::any_of(store.entries.begin(), store.entries.end(),
                       [](const EntryRecord& entry) { return entry.errorNumber != 0; });
}

nlohmann::json GetLogEntries() {
    Store& store = TheStore();
    CriticalSectionLock lock(store.lock);
    nlohmann::json entries = nlohmann::json::array();
    for (std::size_t i = 0; i < store.entries.size(); ++i) {
        entries.push_back(store.ToErrorInfo(i));
    }
    return entries;
}

std::string LogEntriesToJsonText(const nlohmann::json& entries) {
    // Entries recorded here are valid UTF-8 already; replacing keeps any other value from
    // throwing out of the serialiser.
    return entries.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

std::string GetLogReportText() {
    return LogEntriesToJsonText(GetLogEntries());
}

bool WriteLogFile(const std::string& path) {
    Store& store = TheStore();
    CriticalSectionLock lock(store.lock);
    std::string text;
    for (std::size_t i = 0; i < store.entries.size(); ++i) {
        const EntryRecord& entry = store.entries[i];
        if (i > 0) {
            text += "\t\n";
        }
        text += "Message: ";
        text += store.Message(entry);
        text += " Detailed Message: ";
        text += store.Detailed(entry);
        text += " Error Number: " + std::to_string(entry.errorNumber);
        text += " File: ";
        text += store.File(entry);
        text += " Line: " + std::to_string(entry.line);
    }
    // Through the wide name, so that a folder of any name can hold the log.
    Platform::File out = Platform::File::CreateForWriting(StringUtils::ToWide(path));
    const bool written = out.IsOpen() && out.Write(text.data(), text.size()) && out.Close();
    if (!written) {
        const int errorNumber = Platform::LastSystemError();
        LogFailure("WriteLogFile could not write " + path, errorNumber, __FILE__, __LINE__);
        return false;
    }
    return true;
}

void ClearErrors() {
    Store& store = TheStore();
    CriticalSectionLock lock(store.lock);
    store.entries.clear();
    store.text.clear();
    store.errorMessages.clear();
}

}  // namespace vesk
