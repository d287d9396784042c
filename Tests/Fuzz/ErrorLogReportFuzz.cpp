// The error log holding server text: arbitrary bytes are recorded at every level, then
// the log report (the JSON the service receives) and logfile.txt are produced.
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "FuzzInput.h"
#include "Support/ErrorLog.h"

namespace {
std::string logPath;
}

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::SilenceStandardOutput();
    char folder[] = "/tmp/sorvan-fuzz-log-XXXXXX";
    if (mkdtemp(folder) == nullptr) {
        std::abort();
    }
    logPath = std::string(folder) + "/logfile.txt";
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    vesk::ClearErrors();
    fuzz::FuzzInput input(data, size);
    while (!input.Empty()) {
        const std::uint8_t kind = input.Byte();
        const int errorNumber = static_cast<int>(kind >> 3) * 1000 - 16000;
        const std::string message = input.Piece();
        switch (kind % 7) {
            case 0:
                vesk::LogInfo(message, "", 0);
                break;
            case 1:
                (void)vesk::LogInfo(fuzz::AsUtf16(message), "", 0);
                break;
            case 2:
                vesk::LogFailure(message, errorNumber, message, kind);
                break;
            case 3:
                (void)vesk::LogFailure(fuzz::AsUtf16(message), errorNumber, "", 0);
                break;
            case 4:
                vesk::ReportError(message, errorNumber, "", 0);
                break;
            case 5:
                vesk::ReportError(fuzz::AsUtf16(message), errorNumber, "", 0);
                break;
            default:
                (void)vesk::FormatErrorText(fuzz::AsUtf16(message), errorNumber, message, kind);
                break;
        }
    }
    // What the log report sends (and the plain dump, which must not throw either), then
    // what logfile.txt holds.
    const std::string report = vesk::GetLogReportText();
    if (report.empty() || vesk::GetLogEntries().dump().empty()) {
        std::abort();
    }
    (void)vesk::WriteLogFile(logPath);
    (void)vesk::GetErrorMessages();
    return 0;
}
