// The download engine end to end through its facade, against in-process HTTPS
// servers: manifest, file list, downloads, verification, setup launch, failures,
// pause and the log report.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <nlohmann/json.hpp>

#include <atomic>

#include "Configuration.h"
#include "EngineFixture.h"
#include "Support/Formatting.h"

namespace DownloadSystem::Testing {
namespace {

class DownloadCoreTest : public EngineFixture {};

TEST_F(DownloadCoreTest, NamesComeFromTheProgramFile) {
    EXPECT_EQ(DownloadCore::GetReleaseName(), u"Sorvan_9_4");
    EXPECT_EQ(DownloadCore::GetFileListName(), u"Sorvan_9_4.txt");
    EXPECT_EQ(DownloadCore::GetVersionText(true), u"9.4");
    EXPECT_EQ(DownloadCore::GetVersionText(false), u"9");
    EXPECT_EQ(DownloadCore::GetExecutableFolder(), Wide(programFolder_.string()));
    EXPECT_EQ(DownloadCore::GetWorkFolder(), Wide((appData_ / "Sorvan_9_4").string()));

    Platform::Paths::OverrideExecutablePath(u"/opt/x/a_1_2.exe");
    EXPECT_EQ(DownloadCore::GetReleaseName(), u"a_1");
    EXPECT_EQ(DownloadCore::GetVersionText(true), u"");
    Platform::Paths::OverrideExecutablePath(u"/opt/x/plain");
    EXPECT_EQ(DownloadCore::GetReleaseName(), u"plain");
}

TEST_F(DownloadCoreTest, DownloadsVerifiesAndStartsSetupThenKeepsCompleteFiles) {
    AddSetupProgram();
    AddFile("Data-1a.bin", PatternBytes(200 * 1024));
    AddFile("Data-2b.bin", PatternBytes(50 * 1024 + 7));
    {
        DownloadCore core;
        RunDownload(core);
        EXPECT_TRUE(vesk::GetErrorMessages().empty()) << vesk::GetErrorMessages().front();
        for (const auto& [name, bytes] : files_) {
            EXPECT_EQ(ReadFile(Local(name)), bytes) << name;
        }
        EXPECT_EQ(core.GetManager()->GetTotalBytes(), files_["Data-1a.bin"].size() +
                                                          files_["Data-2b.bin"].size() +
                                                          files_["Setup.exe"].size());
        EXPECT_EQ(core.GetManager()->GetProgressPercent(), 100);
        // Setup ran in the download folder.
        EXPECT_EQ(WaitForFile(root_ / "setup-ran.txt"), programFolder_.string() + "\n");
    }
    // The SAS token travels verbatim after the object name.
    const auto requests = content_.RequestsTo("/Rel/Data-1a.bin");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, std::string("/Rel/Data-1a.bin") + Sas);

    // Second run: everything is complete on disk, nothing is fetched.
    content_.ClearRequests();
    fs::remove(root_ / "setup-ran.txt");
    {
        DownloadCore core;
        RunDownload(core);
        EXPECT_TRUE(vesk::GetErrorMessages().empty());
        EXPECT_EQ(core.GetManager()->GetBytesReceived(), 0u);
    }
    for (const auto& [name, bytes] : files_) {
        EXPECT_EQ(FileRequests(name), 0u) << name;
    }

    // One damaged and one missing file: exactly those two are fetched again.
    content_.ClearRequests();
    std::string damaged = files_["Data-1a.bin"];
    damaged[1000] ^= 0x5A;
    WriteFile(Local("Data-1a.bin"), damaged);
    fs::remove(Local("Data-2b.bin"));
    {
        DownloadCore core;
        RunDownload(core);
        EXPECT_TRUE(vesk::GetErrorMessages().empty());
    }
    EXPECT_EQ(FileRequests("Data-1a.bin"), 1u);
    EXPECT_EQ(FileRequests("Data-2b.bin"), 1u);
    EXPECT_EQ(FileRequests("Setup.exe"), 0u);
    EXPECT_EQ(ReadFile(Local("Data-1a.bin")), files_["Data-1a.bin"]);
    // The engine's own deletion of the damaged copy is not reported as foreign.
    EXPECT_EQ(vesk::GetLogEntries().dump().find("was deleted but it was not"), std::string::npos);
}

TEST_F(DownloadCoreTest, ManifestRequestCarriesItsHeadersAndForm) {
    DownloadCore core;
    std::u16string error;
    ASSERT_TRUE(core.RequestDownload(error));
    const auto requests = service_.RequestsTo(ServicePath);
    ASSERT_EQ(requests.size(), 1u);
    const auto& request = requests[0];
    EXPECT_EQ(request.method, "POST");
    // The engine's lines in name order (the transport puts Host first).
    std::vector<std::string> names;
    for (const std::string& name : request.HeaderNames()) {
        if (name != "Host" && name != "Content-Length") {
            names.push_back(name);
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Accept-Encoding", "ComputerId", "Content-Type",
                                               "Method", "User-Agent"}));
    EXPECT_EQ(request.Header("Method"), "RequestDownload");
    EXPECT_EQ(request.Header("User-Agent"), "Sorvan Download Manager / 9.5");
    EXPECT_EQ(request.Header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.Header("ComputerId").size(), 40u);
    EXPECT_EQ(request.body, "DownloadManagerVersion=9%2e5&ReleaseName=Sorvan%5f9%5f4");

    const DownloadManager& manager = *core.GetManager();
    EXPECT_EQ(manager.GetHostName(), Wide(content_.Address()));
    EXPECT_EQ(manager.GetSasToken(), Wide(Sas));
    EXPECT_EQ(manager.GetDownloadSubdir(), u"Rel");
    EXPECT_EQ(manager.GetFileSuffix(), u"_P1");
}

TEST_F(DownloadCoreTest, ManifestFailuresGiveTheConnectionProblemText) {
    const std::u16string expected = u"There is a problem with the connection.\r\nRead " +
                                    std::u16string(Configuration::ConnectionFaqPage) +
                                    u" for solutions.";
    std::u16string error;

    SetManifest(TestServers::Reply::Text(200, "{\"error_info\": \"Release withdrawn\"}"));
    EXPECT_FALSE(DownloadCore().RequestDownload(error));
    EXPECT_EQ(error, expected);

    SetManifest(TestServers::Reply::Text(500, "{}"));
    EXPECT_FALSE(DownloadCore().RequestDownload(error));
    EXPECT_EQ(error, expected);

    // Only a text counts as an error; anything else is a reply without members.
    SetManifest(TestServers::Reply::Text(200, "{\"error_info\": 5}"));
    DownloadCore core;
    EXPECT_TRUE(core.RequestDownload(error));
    EXPECT_TRUE(error.empty());
    EXPECT_EQ(core.GetManager()->GetHostName(), u"");
}

TEST_F(DownloadCoreTest, AListAnswered404EndsWithTheNoLongerOfferedMessage) {
    AddFile("Data-1a.bin", PatternBytes(1000));
    content_.SetReply(ListPath(), TestServers::Reply::Text(404, "gone"));
    DownloadCore core;
    RunDownload(core);
    EXPECT_TRUE(HasErrorMessage(
        "This version of Sorvan can no longer be downloaded.\r\nPlease download the latest "
        "version you received in an e-mail message"));
    EXPECT_EQ(FileRequests("Data-1a.bin"), 0u);
    EXPECT_FALSE(fs::exists(Local("Data-1a.bin")));
}

TEST_F(DownloadCoreTest, AListThatChangesOnEveryFetchIsGivenUp) {
    AddSetupProgram();
    AddFile("Data-1a.bin", PatternBytes(1000));
    // Every answer differs from the one before, so no two fetches ever agree.
    std::atomic<int> served{0};
    content_.SetHandler(ListPath(), [this, &served](const TestServers::RecordedRequest&) {
        const int n = ++served;
        return TestServers::Reply::Text(
            200, ListText() + "Extra-" + std::to_string(n) + ".bin\r\n1\r\n0;");
    });
    DownloadCore core;
    RunDownload(core);

    EXPECT_TRUE(HasErrorMessage("changed on every fetch"));
    EXPECT_EQ(content_.RequestsTo(ListPath()).size(),
              2u * static_cast<std::size_t>(DownloadManager::MaxListFetchRounds));
    EXPECT_EQ(FileRequests("Data-1a.bin"), 0u);
    EXPECT_FALSE(fs::exists(Local("Data-1a.bin")));
    EXPECT_FALSE(fs::exists(root_ / "setup-ran.txt"));
}

TEST_F(DownloadCoreTest, AFileThatNeverVerifiesEndsAfterEightPasses) {
    AddSetupProgram();
    TestServers::Reply corrupted;
    corrupted.corruptAt = {100};
    AddFile("Data-1a.bin", PatternBytes(4000), corrupted);
    DownloadCore core;
    RunDownload(core);

    EXPECT_TRUE(
        HasErrorMessage("Maximum download attempts exceeded. If there are no network or "
                        "file errors, it could be that the files are removed from disk "
                        "after writing"));
    EXPECT_EQ(vesk::GetUserMessage(),
              "Downloading setup failed. You are now directed to our Support Center for help.");
    // Eight passes, each fetching the file with the worker's four attempts.
    EXPECT_EQ(FileRequests("Data-1a.bin"), 8u * 4u);
    EXPECT_EQ(WaitForFile(root_ / "opened.txt"),
              vesk::StringUtils::ToNarrow(Configuration::SupportArticlePage) + "\n");
    EXPECT_FALSE(fs::exists(root_ / "setup-ran.txt"));
}

TEST_F(DownloadCoreTest, SetupThatIsMissingOrCannotStartIsExplained) {
    AddFile("Data-1a.bin", PatternBytes(3000));
    {
        DownloadCore core;
        RunDownload(core);
        EXPECT_TRUE(HasErrorMessage("Failed to run setup. Setup executable is missing."));
        EXPECT_EQ(vesk::GetUserMessage(), "Failed to run setup. Setup executable is missing.");
    }
    // A program the system cannot run: the user is told where it is and gets the folder.
    AddFile("Setup.exe", "not a program\n");
    {
        DownloadCore core;
        RunDownload(core);
        const std::string expected =
            "Unable to start setup. You can start it manually by "
            "executing the file " +
            Local("Setup.exe").string() + " in folder " + programFolder_.string() +
            ". The error message is: ";
        EXPECT_EQ(vesk::GetUserMessage().rfind(expected, 0), 0u) << vesk::GetUserMessage();
        EXPECT_TRUE(HasErrorMessage(expected));
        EXPECT_EQ(WaitForFile(root_ / "opened.txt"), programFolder_.string() + "\n");
    }
}

TEST_F(DownloadCoreTest, AnUnsafeNameInTheListWritesNothing) {
    AddFile("Data-1a.bin", PatternBytes(1000));
    const std::string evil = PatternBytes(10);
    PublishList("../evil.bin\r\n10\r\n" + std::to_string(SignedCrc(evil)) + ";");
    content_.SetReply("/evil.bin", TestServers::Reply::Text(200, evil));
    DownloadCore core;
    RunDownload(core);

    EXPECT_TRUE(HasErrorMessage("outside the download folder"));
    EXPECT_EQ(FileRequests("Data-1a.bin"), 0u);
    EXPECT_TRUE(content_.RequestsTo("/evil.bin").empty());
    EXPECT_TRUE(fs::is_empty(programFolder_));
    for (const auto& entry : fs::directory_iterator(root_)) {
        EXPECT_EQ(entry.path().filename().string().find("evil"), std::string::npos);
    }
}

TEST_F(DownloadCoreTest, AStopDuringVerificationDoesNotStartSetup) {
    AddSetupProgram();
    const std::string data = PatternBytes(4000);
    AddFile("Data-1a.bin", data);
    // The verification pass fetches the list again (the third and fourth fetches). On
    // the third, the downloaded file is swapped for a pipe whose write end the test
    // holds: the check of that file then waits until the test writes, so the stop is
    // requested while the verification is surely under way, with no timing involved.
    std::atomic<int> served{0};
    std::atomic<int> pipeWriter{-1};
    const fs::path held = Local("Data-1a.bin");
    content_.SetHandler(ListPath(), [&, this](const TestServers::RecordedRequest&) {
        if (++served == 3) {
            fs::remove(held);
            if (::mkfifo(held.c_str(), 0600) == 0) {
                pipeWriter = ::open(held.c_str(), O_RDWR | O_CLOEXEC);
            }
        }
        return TestServers::Reply::Text(200, ListText());
    });

    // Whatever fails below, closing the write end lets a waiting check see the end.
    struct CloseWriter {
        std::atomic<int>& fd;
        ~CloseWriter() {
            const int open = fd.exchange(-1);
            if (open >= 0) {
                ::close(open);
            }
        }
    };

    DownloadCore core;
    const CloseWriter closeWriter{pipeWriter};
    std::u16string error;
    ASSERT_TRUE(core.RequestDownload(error));
    core.StartDownload();
    DownloadManager& manager = *core.GetManager();
    for (int i = 0; i < 1200 && !(served >= 4 && manager.IsVerifying()); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    ASSERT_GE(pipeWriter.load(), 0) << "the list was not fetched for the verification";
    ASSERT_TRUE(manager.IsVerifying());

    std::thread stopper([&manager] { manager.Stop(30000); });
    for (int i = 0; i < 1200 && manager.IsRunning(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    // The right bytes: the file itself verifies, only the stop stands in the way.
    EXPECT_EQ(::write(pipeWriter, data.data(), data.size()), static_cast<::ssize_t>(data.size()));
    ::close(pipeWriter.exchange(-1));
    EXPECT_EQ(manager.Wait(30000), vesk::Tavrin_Thread::WaitEnded);
    stopper.join();

    EXPECT_FALSE(manager.IsVerifying());
    // The launch makes the program executable before anything else; it never got there.
    const fs::perms setupPerms = fs::status(Local("Setup.exe")).permissions();
    EXPECT_EQ(setupPerms & fs::perms::owner_exec, fs::perms::none);
    EXPECT_FALSE(fs::exists(root_ / "setup-ran.txt"));
    EXPECT_FALSE(fs::exists(root_ / "opened.txt"));
}

TEST_F(DownloadCoreTest, PauseHoldsTheCountersAndResumeGoesOn) {
    TestServers::Reply slow;
    slow.slowPiece = 8 * 1024;
    slow.slowPause = std::chrono::milliseconds(20);
    AddFile("Data-1a.bin", PatternBytes(2 * 1024 * 1024), slow);
    DownloadCore core;
    std::u16string error;
    ASSERT_TRUE(core.RequestDownload(error));
    core.StartDownload();
    const DownloadManager& manager = *core.GetManager();
    for (int i = 0; i < 400 && manager.GetDownloadedBytes() == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    ASSERT_GT(manager.GetDownloadedBytes(), 0u);

    ASSERT_TRUE(core.TogglePause());
    std::this_thread::sleep_for(std::chrono::milliseconds(400));  // the read under way lands
    const std::uint64_t held = manager.GetDownloadedBytes();
    std::this_thread::sleep_for(std::chrono::milliseconds(600));
    EXPECT_EQ(manager.GetDownloadedBytes(), held);
    EXPECT_EQ(core.GetSpeed(), 0u);
    const RemainingTime paused = core.GetRemainingTime();
    EXPECT_EQ(paused.hours + paused.minutes + paused.seconds, 0u);

    ASSERT_FALSE(core.TogglePause());
    for (int i = 0; i < 400 && manager.GetDownloadedBytes() == held; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(25));
    }
    EXPECT_GT(manager.GetDownloadedBytes(), held);
    EXPECT_FALSE(core.IsFinished());
    // The facade's destructor stops the download under way.
}

// Inflates a gzip stream.
std::string Gunzip(const std::string& compressed) {
    z_stream stream{};
    if (inflateInit2(&stream, 16 + MAX_WBITS) != Z_OK) {
        return {};
    }
    std::string out;
    char buffer[16384];
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.data()));
    stream.avail_in = static_cast<uInt>(compressed.size());
    int result = Z_OK;
    while (result == Z_OK) {
        stream.next_out = reinterpret_cast<Bytef*>(buffer);
        stream.avail_out = sizeof buffer;
        result = inflate(&stream, Z_NO_FLUSH);
        out.append(buffer, sizeof buffer - stream.avail_out);
    }
    inflateEnd(&stream);
    return result == Z_STREAM_END ? out : std::string();
}

TEST_F(DownloadCoreTest, TheLogReportReachesTheServiceAsGzippedUtf16Json) {
    vesk::LogInfo("a note before the report", __FILE__, __LINE__);
    vesk::ReportError("a failure before the report", 12029, __FILE__, __LINE__);
    const std::size_t entriesBefore = vesk::GetLogEntries().size();
    DownloadCore core;
    core.PostLogFile();

    std::vector<TestServers::RecordedRequest> reports;
    for (const auto& request : service_.RequestsTo(ServicePath)) {
        if (request.Header("Method") == "LogErrorInfo") {
            reports.push_back(request);
        }
    }
    ASSERT_EQ(reports.size(), 1u);
    std::vector<std::string> names;
    for (const std::string& name : reports[0].HeaderNames()) {
        if (name != "Host" && name != "Content-Length") {
            names.push_back(name);
        }
    }
    EXPECT_EQ(names, (std::vector<std::string>{"Accept-Encoding", "ComputerId", "Content-Type",
                                               "DownloadManagerVersion", "Method", "User-Agent"}));
    EXPECT_EQ(reports[0].Header("Content-Type"), "application/octet-stream");
    EXPECT_EQ(reports[0].Header("DownloadManagerVersion"), "9.5");

    const std::string utf16 = Gunzip(reports[0].body);
    ASSERT_FALSE(utf16.empty());
    ASSERT_EQ(utf16.size() % 2, 0u);
    std::u16string text;
    for (std::size_t i = 0; i < utf16.size(); i += 2) {
        text += static_cast<char16_t>(static_cast<unsigned char>(utf16[i]) |
                                      static_cast<unsigned char>(utf16[i + 1]) << 8);
    }
    const nlohmann::json entries = nlohmann::json::parse(vesk::WideToUtf8(text), nullptr, false);
    ASSERT_TRUE(entries.is_array());
    ASSERT_GE(entries.size(), entriesBefore);
    EXPECT_EQ(entries[0]["message"], "a note before the report");
    EXPECT_EQ(entries[1]["message"], "a failure before the report");
    EXPECT_EQ(entries[1]["error_number"], 12029);

    EXPECT_NE(ReadFile(programFolder_ / "logfile.txt").find("a failure before the report"),
              std::string::npos);
    EXPECT_TRUE(fs::is_directory(appData_ / "Sorvan_9_4"));
    EXPECT_FALSE(fs::exists(appData_ / "Sorvan_9_4" / "logfile.gz"));
}

}  // namespace
}  // namespace DownloadSystem::Testing
