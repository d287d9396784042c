// The error log: entry fields and numbering, the exact recording texts, error and
// user message lists, the log file's layout, and concurrent recording.
#include "Support/ErrorLog.h"

#include <gtest/gtest.h>

#include <cctype>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "Platform/SystemError.h"

namespace vesk {
namespace {

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

// asctime's layout: "Wed Jan 02 02:03:55 1980".
bool IsAsctime(std::string_view text) {
    const std::string_view layout = "AAA AAA 00 00:00:00 0000";
    if (text.size() != layout.size()) {
        return false;
    }
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto c = static_cast<unsigned char>(text[i]);
        const bool ok = layout[i] == 'A'   ? std::isalpha(c) != 0
                        : layout[i] == '0' ? std::isdigit(c) != 0
                                           : text[i] == layout[i];
        if (!ok) {
            return false;
        }
    }
    return true;
}

class ErrorLogTest : public ::testing::Test {
protected:
    void SetUp() override { ClearErrors(); }
    void TearDown() override { ClearErrors(); }
};

TEST_F(ErrorLogTest, EntriesCarryAllKeysAndIndexesRestartAfterClear) {
    LogInfo("first", "a.cpp", 1);
    LogFailure("second", 5, "", 0);
    nlohmann::json entries = GetLogEntries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].dump(),
              R"({"detailed_message":"","error_number":0,"file":"a.cpp","line":1,)"
              R"("log_index":0,"message":"first"})");
    EXPECT_EQ(entries[1]["log_index"], 1);
    EXPECT_EQ(entries[1]["error_number"], 5);
    EXPECT_TRUE(HasLoggedErrors());

    ClearErrors();
    LogInfo("note", "", 0);
    LogFailure("zero", 0, "", 0);
    EXPECT_FALSE(HasLoggedErrors()) << "notes and number 0 do not count";

    ClearErrors();
    EXPECT_TRUE(GetLogEntries().empty());
    LogInfo("again", "", 0);
    EXPECT_EQ(GetLogEntries()[0]["log_index"], 0);
}

// The report carries where an entry was made; the build machine's folders are not the
// service's business and would make two builds of one commit differ.
TEST_F(ErrorLogTest, SourceFileNamesAreRelativeToTheSourceRoot) {
    LogInfo("here", __FILE__, __LINE__);
    EXPECT_EQ(GetLogEntries()[0]["file"], "Tests/Support/ErrorLogTest.cpp");
}

TEST_F(ErrorLogTest, ReportErrorWithSystemNumberBuildsFullText) {
    const std::string systemText = Platform::SystemErrorText(2);
    ASSERT_FALSE(systemText.empty());
    CaptureStdout();
    ReportError("open failed", 2, "x.cpp", 12);
    const std::string echo = GetCapturedStdout();
    const std::string expected =
        "open failed Error code: 0x2 Windows error message: " + systemText +
        " File: x.cpp Line: 12 At: ";
    ASSERT_EQ(echo.size(), expected.size() + 25) << echo;
    EXPECT_EQ(echo.substr(0, expected.size()), expected);
    EXPECT_TRUE(IsAsctime(echo.substr(expected.size(), 24))) << echo;
    EXPECT_EQ(echo.back(), '\n');
    const auto entry = GetLogEntries()[0];
    EXPECT_EQ(entry["detailed_message"], systemText);
    EXPECT_EQ(entry["message"], "open failed");
    EXPECT_EQ(GetErrorMessages(), std::vector<std::string>{"open failed"});
    EXPECT_TRUE(HasLoggedErrors());
}

TEST_F(ErrorLogTest, WinInetNumbersUseTheNameTableWithoutSystemLookup) {
    CaptureStdout();
    LogFailure("t", 12002, "", 0);
    LogFailure("u", 12035, "", 0);
    LogFailure("v", 0, "", 0);
    LogFailure("w", -32767, "f.cpp", 0);
    std::istringstream lines(GetCapturedStdout());
    for (const std::string prefix :
         {"t Error code: 0x2ee2 ERROR_INTERNET_TIMEOUT At: ", "u Error code: 0x2f03  At: ",
          "v Error code: 0x0 At: ", "w Error code: 0xffff8001 File: f.cpp At: "}) {
        std::string line;
        std::getline(lines, line);
        ASSERT_GE(line.size(), prefix.size());
        EXPECT_EQ(line.substr(0, prefix.size()), prefix);
        EXPECT_TRUE(IsAsctime(line.substr(prefix.size()))) << line;
    }

    const auto entries = GetLogEntries();
    EXPECT_EQ(entries[0]["detailed_message"], "ERROR_INTERNET_TIMEOUT");
    EXPECT_EQ(entries[1]["detailed_message"], "");
    EXPECT_EQ(entries[2]["detailed_message"], "");
    EXPECT_EQ(entries[3]["detailed_message"], "");
    EXPECT_EQ(GetErrorCount(), 0u);
}

TEST_F(ErrorLogTest, WinInetNameTable) {
    EXPECT_EQ(GetWinInetErrorName(12057), "ERROR_INTERNET_SEC_CERT_REV_FAILED");
    EXPECT_EQ(GetWinInetErrorName(12175), "ERROR_INTERNET_DECODING_FAILED");
    int named = 0;
    for (int code = 11990; code <= 12200; ++code) {
        named += GetWinInetErrorName(code).empty() ? 0 : 1;
    }
    EXPECT_EQ(named, 70);
    for (int code : {12000, 12035, 12051, 12058, 12168, 12176}) {
        EXPECT_EQ(GetWinInetErrorName(code), "") << code;
    }
    EXPECT_TRUE(IsWinInetError(12000));
    EXPECT_TRUE(IsWinInetError(12188));
    EXPECT_FALSE(IsWinInetError(12189));
    EXPECT_FALSE(IsWinInetError(11999));
}

TEST_F(ErrorLogTest, WideFormsReturnTheirTextAndFormatErrorTextRecordsNothing) {
    CaptureStdout();
    EXPECT_EQ(LogInfo(u"note \u00e9", "a.cpp", 3), u"note \u00e9 File: a.cpp Line: 3\r\n");
    EXPECT_EQ(LogFailure(u"fail", 12002, "", 9),
              u"fail Error code: 0x2ee2 ERROR_INTERNET_TIMEOUT Line: 9");
    ReportError(u"wide error", 0, "", 0);
    const std::u16string formatted = FormatErrorText(u"fmt", 12002, "b.cpp", 0);
    GetCapturedStdout();
    EXPECT_EQ(formatted, u"fmt Error code: 0x2ee2 File: b.cpp");
    EXPECT_EQ(GetLogEntries().size(), 3u);
    EXPECT_EQ(GetLogEntries()[0]["message"], "note \xc3\xa9");
    EXPECT_EQ(GetErrorMessages(), std::vector<std::string>{"wide error"});
}

TEST_F(ErrorLogTest, UserMessagesIgnoreEmptyTextAndSurviveClear) {
    SetUserMessage("first");
    SetUserMessage(u"second");
    SetUserMessage("");
    SetUserMessage(u"");
    EXPECT_EQ(GetUserMessage(), "second");
    ClearErrors();
    EXPECT_EQ(GetUserMessage(), "second");
}

TEST_F(ErrorLogTest, WriteLogFileSeparatesEntriesAndReplacesTheFile) {
    const auto path = std::filesystem::temp_directory_path() /
                      ("errorlog-" + std::to_string(std::random_device()()) + ".txt");
    const auto read = [&] {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    { std::ofstream(path) << "old content that must go"; }
    ASSERT_TRUE(WriteLogFile(path.string()));
    EXPECT_EQ(read(), "");

    CaptureStdout();
    LogInfo("one", "a.cpp", 1);
    ReportError("two", -32767, "b.cpp", 2);
    GetCapturedStdout();
    ASSERT_TRUE(WriteLogFile(path.string()));
    EXPECT_EQ(read(),
              "Message: one Detailed Message:  Error Number: 0 File: a.cpp Line: 1\t\n"
              "Message: two Detailed Message:  Error Number: -32767 File: b.cpp Line: 2");
    std::filesystem::remove(path);

    CaptureStdout();
    EXPECT_FALSE(WriteLogFile((path / "no" / "such" / "dir").string()));
    GetCapturedStdout();
    EXPECT_EQ(GetLogEntries().size(), 3u) << "the failure is recorded, the entries stay";
}

// The path is UTF-8 whatever the system's code page; a user's folder may be named with
// any letters.
TEST_F(ErrorLogTest, WriteLogFileWritesIntoAFolderNamedBeyondAscii) {
    const auto folder = std::filesystem::temp_directory_path() /
                        ("errorlog-" + std::to_string(std::random_device()())) /
                        std::filesystem::path(u"J\u00f6rg \u03a9");
    std::filesystem::create_directories(folder);
    const std::u8string utf8 = (folder / "logfile.txt").u8string();
    CaptureStdout();
    LogInfo("one", "a.cpp", 1);
    GetCapturedStdout();
    ASSERT_TRUE(WriteLogFile(std::string(utf8.begin(), utf8.end())));
    std::ifstream in(folder / "logfile.txt", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}),
              "Message: one Detailed Message:  Error Number: 0 File: a.cpp Line: 1");
    in.close();
    std::filesystem::remove_all(folder.parent_path());
}

// Servers put arbitrary bytes into messages (a reply quoted in a failure, a parser error
// quoting bad input). Whatever path records them, the report stays valid JSON with U+FFFD
// in place of each bad byte, and the text file is written.
TEST_F(ErrorLogTest, BytesThatAreNotUtf8NeverBreakTheReport) {
    const std::string bad = "reply \xFF\xFE ok \xC3 cut \xED\xA0\x80 surrogate \xE2\x82";
    const std::string replaced =
        "reply \uFFFD\uFFFD ok \uFFFD cut \uFFFD\uFFFD\uFFFD "
        "surrogate \uFFFD\uFFFD";
    struct Path {
        const char* name;
        std::function<void()> record;
        const char* key;
    };
    const std::vector<Path> paths = {
        {"LogInfo", [&] { LogInfo(bad, "", 0); }, "message"},
        {"LogFailure", [&] { LogFailure(bad, 5, "", 0); }, "message"},
        {"ReportError", [&] { ReportError(bad, 0, "", 0); }, "message"},
        {"file name", [&] { LogInfo("note", bad, 3); }, "file"},
    };
    for (const Path& path : paths) {
        SCOPED_TRACE(path.name);
        ClearErrors();
        CaptureStdout();
        path.record();
        GetCapturedStdout();
        // The plain dump is what the report used to send; it must not throw either.
        ASSERT_NO_THROW(GetLogEntries().dump());
        std::string report;
        ASSERT_NO_THROW(report = GetLogReportText());
        const auto parsed = nlohmann::json::parse(report);
        ASSERT_EQ(parsed.size(), 1u);
        EXPECT_EQ(parsed[0][path.key].get<std::string>(), replaced);
    }
    ReportError(bad, 0, "", 0);
    EXPECT_EQ(GetErrorMessages().back(), replaced);
    SetUserMessage(bad);
    EXPECT_EQ(GetUserMessage(), replaced);

    const auto file = std::filesystem::temp_directory_path() /
                      ("errorlog-bad-" + std::to_string(std::random_device()()) + ".txt");
    EXPECT_TRUE(WriteLogFile(file.string()));
    EXPECT_TRUE(std::filesystem::exists(file));
    std::filesystem::remove(file);

    // Values that did not come through the recording calls are replaced by the serialiser.
    const nlohmann::json raw = nlohmann::json::array({{{"message",
                                                        "a\xFF"
                                                        "b"}}});
    std::string text;
    ASSERT_NO_THROW(text = LogEntriesToJsonText(raw));
    EXPECT_EQ(text,
              "[{\"message\":\"a\xEF\xBF\xBD"
              "b\"}]");
}

TEST_F(ErrorLogTest, ConcurrentRecordingGivesUniqueOrderedIndexes) {
    constexpr int Threads = 8;
    constexpr int PerThread = 200;
    CaptureStdout();
    std::vector<std::thread> threads;
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([t] {
            for (int i = 0; i < PerThread; ++i) {
                if (i % 2 == 0) {
                    LogInfo(std::to_string(t) + ":" + std::to_string(i), "", 0);
                } else {
                    ReportError(std::to_string(t) + ":" + std::to_string(i), 1, "", 0);
                }
                GetUserMessage();
            }
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    GetCapturedStdout();
    const auto entries = GetLogEntries();
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(Threads * PerThread));
    std::vector<int> lastSeen(Threads, -1);
    for (std::size_t i = 0; i < entries.size(); ++i) {
        EXPECT_EQ(entries[i]["log_index"], i);
        const std::string message = entries[i]["message"];
        const int t = std::stoi(message.substr(0, message.find(':')));
        const int n = std::stoi(message.substr(message.find(':') + 1));
        EXPECT_EQ(n, lastSeen[t] + 1) << "each thread's entries keep their order";
        lastSeen[t] = n;
    }
    EXPECT_EQ(GetErrorCount(), static_cast<std::size_t>(Threads * PerThread / 2));
}

}  // namespace
}  // namespace vesk
