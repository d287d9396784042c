// The download engine end to end through its facade, against in-process HTTPS
// servers: manifest, file list, downloads, verification, setup launch, failures,
// pause and the log report.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>
#include <nlohmann/json.hpp>

#include <atomic>
#include <functional>
#include <optional>
#include <set>

#include "DownloadSystem/FileDownload.h"
#include "EngineCase.h"
#include "EngineFixture.h"
#include "FileSizeLimit.h"
#include "Servers/ConnectProxy.h"
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

// The release the shared engine cases meet here: a setup program and two data files.
class InProcessRelease : public EngineFixture {
public:
    static constexpr bool CountsRequests = true;

protected:
    void SetUp() override {
        EngineFixture::SetUp();
        AddSetupProgram();
        AddFile("Data-1a.bin", PatternBytes(200 * 1024));
        AddFile("Data-2b.bin", PatternBytes(50 * 1024 + 7));
    }
    std::map<std::string, std::string> Published() const { return files_; }
    // Setup ran in the download folder.
    void ExpectSetupRan() const {
        EXPECT_EQ(WaitForFile(root_ / "setup-ran.txt"), programFolder_.string() + "\n");
    }
    void ForgetSetupRun() const { fs::remove(root_ / "setup-ran.txt"); }
    void ClearRequests() { content_.ClearRequests(); }
    // The SAS token travels verbatim after the object name.
    void ExpectSignedFileTargets() const {
        const auto requests = content_.RequestsTo("/Rel/Data-1a.bin");
        ASSERT_EQ(requests.size(), 1u);
        EXPECT_EQ(requests[0].target, std::string("/Rel/Data-1a.bin") + Sas);
    }
};
INSTANTIATE_TYPED_TEST_SUITE_P(DownloadCoreTest, EngineCase, InProcessRelease);

// Behind a company proxy: the manifest form, the list, the files and the log report all
// pass through the tunnel, and the run ends as it would without the proxy.
TEST_F(DownloadCoreTest, AWholeRunAndItsReportGoThroughAConnectProxy) {
    TestServers::ConnectProxy proxy;
    ASSERT_NE(proxy.Port(), 0);
    TestServers::ProxyVariables variables(proxy.Url());
    AddSetupProgram();
    AddFile("Data-1a.bin", PatternBytes(300 * 1024));
    {
        DownloadCore core;
        RunDownload(core);
        EXPECT_TRUE(vesk::GetErrorMessages().empty()) << vesk::GetErrorMessages().front();
        EXPECT_EQ(ReadFile(Local("Data-1a.bin")), files_["Data-1a.bin"]);
        EXPECT_EQ(WaitForFile(root_ / "setup-ran.txt"), programFolder_.string() + "\n");
        core.PostLogFile();
    }
    const auto service = service_.RequestsTo(ServicePath);
    ASSERT_EQ(service.size(), 2u);
    EXPECT_EQ(service[0].Header("Method"), "RequestDownload");
    EXPECT_FALSE(service[0].body.empty());
    EXPECT_EQ(service[1].Header("Method"), "LogErrorInfo");
    EXPECT_EQ(service[1].body.size(), std::stoull(service[1].Header("Content-Length")));
    std::set<std::string> targets;
    for (const std::string& target : proxy.Targets()) {
        targets.insert(target);
    }
    EXPECT_EQ(targets, (std::set<std::string>{service_.Address(), content_.Address()}));
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

TEST_F(DownloadCoreTest, AnEmptyReleaseFileVerifies) {
    AddSetupProgram();
    AddFile("Empty-0a.bin", "");
    DownloadCore core;
    RunDownload(core);
    EXPECT_TRUE(vesk::GetErrorMessages().empty()) << vesk::GetErrorMessages().front();
    EXPECT_TRUE(fs::exists(Local("Empty-0a.bin")));
    EXPECT_EQ(fs::file_size(Local("Empty-0a.bin")), 0u);
    EXPECT_EQ(FileRequests("Empty-0a.bin"), 1u);
    EXPECT_EQ(WaitForFile(root_ / "setup-ran.txt"), programFolder_.string() + "\n");
}

TEST_F(DownloadCoreTest, AListNamingTheRunningProgramIsRefused) {
    // The program is "Sorvan_9_4_P1.exe"; the listed "Sorvan_9_4.exe" gets the product code
    // and would be written over it.
    const fs::path program = programFolder_ / "Sorvan_9_4_P1.exe";
    WriteFile(program, "the running program");
    Platform::Paths::OverrideExecutablePath(Wide(program.string()));
    AddFile("Data-1a.bin", PatternBytes(1000));
    AddFile("Sorvan_9_4.exe", "#!/bin/sh\necho replaced\n");
    DownloadCore core;
    RunDownload(core);

    EXPECT_TRUE(HasErrorMessage("the file list names the running program: \"Sorvan_9_4.exe\""));
    EXPECT_EQ(ReadFile(program), "the running program");
    EXPECT_EQ(FileRequests("Sorvan_9_4.exe"), 0u);
    EXPECT_EQ(FileRequests("Data-1a.bin"), 0u);
    EXPECT_FALSE(fs::exists(Local("Data-1a.bin")));
    bool refusedAsUnsafe = false;
    for (const auto& entry : vesk::GetLogEntries()) {
        refusedAsUnsafe |= entry.value("error_number", 0) == DownloadManager::UnsafeFileNameError;
    }
    EXPECT_TRUE(refusedAsUnsafe);
}

TEST_F(DownloadCoreTest, AListNamingOneFileTwiceInDifferentCaseWritesNothing) {
    AddFile("Data-1a.bin", PatternBytes(1000));
    AddFile("DATA-1A.BIN", PatternBytes(2000));
    DownloadCore core;
    RunDownload(core);

    EXPECT_TRUE(HasErrorMessage("names one file twice, in different case: \"DATA-1A.BIN\""));
    EXPECT_EQ(FileRequests("Data-1a.bin"), 0u);
    EXPECT_EQ(FileRequests("DATA-1A.BIN"), 0u);
    EXPECT_FALSE(fs::exists(Local("Data-1a.bin")));
    EXPECT_FALSE(fs::exists(root_ / "setup-ran.txt"));
}

TEST_F(DownloadCoreTest, ARootListReleaseAsksForSingleSlashPaths) {
    // Releases numbered like 2_5 keep the list and the files at the content root.
    Platform::Paths::OverrideExecutablePath(Wide((programFolder_ / "Sorvan_12_5_X").string()));
    const std::string data = PatternBytes(3000);
    const std::string list = "Data-1a.bin\r\n3000\r\n" + std::to_string(SignedCrc(data)) + ";";
    content_.SetReply("/Sorvan_12_5.txt", TestServers::Reply::Text(200, list));
    content_.SetReply("/Data-1a.bin", TestServers::Reply::Text(200, data));
    DownloadCore core;
    RunDownload(core);

    for (const auto& request : content_.Requests()) {
        EXPECT_EQ(request.path.rfind("//", 0), std::string::npos) << request.path;
    }
    EXPECT_FALSE(content_.RequestsTo("/Sorvan_12_5.txt").empty());
    EXPECT_EQ(content_.RequestsTo("/Data-1a.bin").size(), 1u);
    EXPECT_EQ(ReadFile(Local("Data-1a.bin")), data);
}

TEST_F(DownloadCoreTest, AStopEndsAListFetchUnderWay) {
    AddFile("Data-1a.bin", PatternBytes(1000));
    TestServers::Reply silent;
    silent.silent = true;
    content_.SetReply(ListPath(), silent);
    DownloadCore core;
    std::u16string error;
    ASSERT_TRUE(core.RequestDownload(error));
    core.StartDownload();
    ASSERT_TRUE(content_.WaitForRequests(1, std::chrono::seconds(20)));
    // The list's receive time-out is minutes; the manager's stop must not wait for it.
    DownloadManager& manager = *core.GetManager();
    std::thread stopper([&manager] { manager.Stop(vesk::Tavrin_Thread::Infinite); });
    EXPECT_EQ(manager.Wait(15000), vesk::Tavrin_Thread::WaitEnded);
    stopper.join();
    EXPECT_EQ(content_.RequestsTo(ListPath()).size(), 1u);
    EXPECT_FALSE(fs::exists(Local("Data-1a.bin")));
}

// Faults of the disk: whatever the disk does, a verified file stays and a partial file is
// never taken as complete.
TEST_F(DownloadCoreTest, AFullDiskEndsTheDownloadWithOneEntryAndKeepsVerifiedFiles) {
    AddSetupProgram();
    const std::string small = PatternBytes(5000);
    AddFile("Data-1a.bin", small);
    AddFile("Data-2b.bin", PatternBytes(2 * 1024 * 1024));
    // A verified copy of the first file is already there.
    WriteFile(Local("Data-1a.bin"), small);

    // The file-size limit refuses the write like a full disk.
    {
        FileSizeLimit limit(512 * 1024);
        ASSERT_TRUE(limit.Applied());
        DownloadCore core;
        RunDownload(core);
    }

    const auto messages = vesk::GetErrorMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Couldn't write part file");
    EXPECT_EQ(vesk::GetUserMessage(),
              "Downloading setup failed: a file could not be written. Please make sure the disk "
              "has free space and the program's folder can be written to, then start again.");
    EXPECT_EQ(FileRequests("Data-2b.bin"), 1u);
    EXPECT_EQ(ReadFile(Local("Data-1a.bin")), small);
    EXPECT_FALSE(fs::exists(Local("Data-2b.bin")));
    EXPECT_FALSE(fs::exists(root_ / "setup-ran.txt"));
    EXPECT_FALSE(fs::exists(root_ / "opened.txt"));
    // The worker's own removal of its part file is no deletion by others.
    for (const auto& entry : vesk::GetLogEntries())
        EXPECT_NE(entry.value("error_number", 0), vesk::ErrorNumber::FileDeletedByOthers)
            << entry.dump();
}

TEST_F(DownloadCoreTest, AReadOnlyDownloadFolderEndsTheDownloadWritingNothing) {
    AddSetupProgram();
    AddFile("Data-1a.bin", PatternBytes(5000));
    // Root writes through permissions, so there the folder becomes a read-only mount.
    bool mounted = false;
    if (::geteuid() == 0) {
        if (::mount(programFolder_.c_str(), programFolder_.c_str(), nullptr, MS_BIND, nullptr) !=
            0) {
            GTEST_SKIP() << "no read-only folder can be made here";
        }
        mounted = ::mount(nullptr, programFolder_.c_str(), nullptr,
                          MS_BIND | MS_REMOUNT | MS_RDONLY, nullptr) == 0;
        if (!mounted) {
            ::umount(programFolder_.c_str());
            GTEST_SKIP() << "no read-only folder can be made here";
        }
    } else {
        fs::permissions(programFolder_, fs::perms::owner_read | fs::perms::owner_exec);
    }
    {
        DownloadCore core;
        RunDownload(core);
    }
    if (mounted) {
        ::umount(programFolder_.c_str());
    } else {
        fs::permissions(programFolder_, fs::perms::owner_all);
    }

    EXPECT_TRUE(HasErrorMessage("Couldn't create part file: " + Local("Setup.exe").string()));
    EXPECT_EQ(vesk::GetErrorMessages().size(), 1u);
    EXPECT_EQ(vesk::GetUserMessage(),
              "Downloading setup failed: a file cannot be written. Please make sure the "
              "program's folder can be written to, then start again.");
    // Each attempt may find the file free again; none does.
    EXPECT_EQ(FileRequests("Setup.exe"), static_cast<std::size_t>(FileDownload::MaxAttempts));
    EXPECT_EQ(FileRequests("Data-1a.bin"), 0u);
    EXPECT_TRUE(fs::is_empty(programFolder_));
}

TEST_F(DownloadCoreTest, AFileDeletedByOthersDuringItsTransferIsFetchedAgain) {
    AddSetupProgram();
    // About two seconds at the server's pace, so the deletion lands mid-transfer.
    const std::string data = PatternBytes(1536 * 1024);
    TestServers::Reply slow;
    slow.slowPiece = 16 * 1024;
    slow.slowPause = std::chrono::milliseconds(20);
    AddFile("Data-1a.bin", data, slow);
    // The second request is answered at full speed.
    content_.SetReplies(std::string("/") + Subdir + "/Data-1a.bin",
                        {[&] {
                             TestServers::Reply r = slow;
                             r.body = data;
                             return r;
                         }(),
                         TestServers::Reply::Text(200, data)});
    DownloadCore core;
    std::u16string error;
    ASSERT_TRUE(core.RequestDownload(error));
    core.StartDownload();
    for (int i = 0; i < 1200 && !(fs::exists(Local("Data-1a.bin")) &&
                                  fs::file_size(Local("Data-1a.bin")) > 32 * 1024);
         ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_TRUE(fs::remove(Local("Data-1a.bin")));
    WaitUntilFinished(core);

    EXPECT_EQ(ReadFile(Local("Data-1a.bin")), data);
    EXPECT_EQ(FileRequests("Data-1a.bin"), 2u);
    EXPECT_EQ(WaitForFile(root_ / "setup-ran.txt"), programFolder_.string() + "\n");
}

TEST_F(DownloadCoreTest, AProgramStoppedMidFileKeepsItsVerifiedFilesAndGoesOnWithThePart) {
    AddSetupProgram();
    const std::string first = PatternBytes(3000);
    // About two seconds at the server's pace, so the stop lands mid-file.
    const std::string second = PatternBytes(1536 * 1024);
    AddFile("Data-1a.bin", first);
    AddFile("Data-2b.bin", second);
    const std::string secondPath = std::string("/") + Subdir + "/Data-2b.bin";
    // Without a validator the part cannot be vouched for across runs: it is fetched again.
    for (const std::string etag : {"", "\"v7\""}) {
        fs::remove(Local("Data-2b.bin"));
        fs::remove(root_ / "setup-ran.txt");
        TestServers::Reply slow;
        slow.slowPiece = 16 * 1024;
        slow.slowPause = std::chrono::milliseconds(20);
        if (!etag.empty())
            slow.headers = {{"ETag", etag}};
        slow.body = second;
        content_.SetReply(secondPath, slow);
        {
            // The first run ends (as a closed program does) in the middle of the second file.
            DownloadCore core;
            std::u16string error;
            ASSERT_TRUE(core.RequestDownload(error));
            core.StartDownload();
            for (int i = 0; i < 1200 && !(fs::exists(Local("Data-2b.bin")) &&
                                          fs::file_size(Local("Data-2b.bin")) > 64 * 1024);
                 ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
            core.GetManager()->Stop(vesk::Tavrin_Thread::Infinite);
        }
        const std::uint64_t kept = fs::file_size(Local("Data-2b.bin"));
        ASSERT_LT(kept, second.size()) << etag;
        EXPECT_FALSE(fs::exists(root_ / "setup-ran.txt")) << etag;

        vesk::ClearErrors();
        content_.ClearRequests();
        TestServers::Reply rest = TestServers::Reply::Text(200, second);
        rest.headers = slow.headers;
        content_.SetReply(secondPath, rest);
        {
            DownloadCore core;
            RunDownload(core);
            EXPECT_TRUE(vesk::GetErrorMessages().empty()) << vesk::GetErrorMessages().front();
        }
        EXPECT_EQ(FileRequests("Data-1a.bin"), 0u) << etag;
        const auto requests = content_.RequestsTo(secondPath);
        ASSERT_EQ(requests.size(), 1u) << etag;
        EXPECT_EQ(requests[0].Header("Range"),
                  etag.empty() ? "" : "bytes=" + std::to_string(kept) + "-");
        EXPECT_EQ(ReadFile(Local("Data-2b.bin")), second) << etag;
        EXPECT_FALSE(fs::exists(Local("Data-2b.bin").string() + ".resume")) << etag;
        EXPECT_EQ(WaitForFile(root_ / "setup-ran.txt"), programFolder_.string() + "\n") << etag;
    }
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

TEST_F(DownloadCoreTest, TheCompressedReportIsGoneWhileTheServiceIsStillReadingIt) {
    // The window gives the report ten seconds and then ends the program: whatever the
    // upload is waiting on then, no logfile.gz may stay behind in the work folder.
    const fs::path gz = appData_ / "Sorvan_9_4" / "logfile.gz";
    std::atomic<bool> presentDuringUpload{true};
    service_.SetHandler(ServicePath, [&](const TestServers::RecordedRequest&) {
        presentDuringUpload = fs::exists(gz);
        return TestServers::Reply::Text(200, "");
    });
    DownloadCore core;
    core.PostLogFile();
    ASSERT_EQ(service_.RequestsTo(ServicePath).size(), 1u);
    EXPECT_FALSE(presentDuringUpload);
    EXPECT_FALSE(fs::exists(gz));
}

}  // namespace
}  // namespace DownloadSystem::Testing

namespace DownloadSystem::Testing {
namespace {

// The local copy, one byte changed at the same size, as another program might leave it.
void ChangeOnDisk(const fs::path& path) {
    std::string bytes = ReadFile(path);
    if (!bytes.empty()) {
        bytes[bytes.size() / 2] ^= 0x5A;
        WriteFile(path, bytes);
    }
}

// Passes 1-7 each fail one way and the 8th gets through: setup starts. The window then
// closes, unless a fault was reported to the user on the way: then the error screen shows,
// and the log holds the note that the errors resolved and setup was started.
TEST_F(DownloadCoreTest, SetupStartsWhenOnlyTheEighthPassGetsThrough) {
    AddSetupProgram();
    AddFile("Data-1a.bin", PatternBytes(4000));
    TestServers::Reply cut = TestServers::Reply::Text(200, ListText());
    cut.dropAfter = ListText().find(';') + 1;
    using Fault = std::function<std::optional<TestServers::Reply>(int fetch)>;
    struct Row {
        const char* name;
        int fetchesPerFailedPass;
        // What the list's `fetch`-th request (from 0) of a failed pass meets; none: the list.
        Fault fault;
        std::size_t fileRequests;
        std::size_t crcReports;
    };
    const Row rows[] = {
        {"the file changed on disk before each verification", 4,
         [this](int fetch) -> std::optional<TestServers::Reply> {
             // The verification fetches the list after both of the pass's own fetches.
             if (fetch == 2) {
                 ChangeOnDisk(Local("Data-1a.bin"));
             }
             return std::nullopt;
         },
         8, 7},
        {"the list unavailable at the start of the pass", 4,
         [&cut](int) -> std::optional<TestServers::Reply> { return cut; }, 1, 0},
        {"the list unavailable for the verification", 6,
         [&cut](int fetch) -> std::optional<TestServers::Reply> {
             if (fetch < 2) {
                 return std::nullopt;
             }
             return cut;
         },
         1, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        vesk::ClearErrors();
        content_.ClearRequests();
        fs::remove(Local("Data-1a.bin"));
        fs::remove(Local("Setup.exe"));
        fs::remove(root_ / "setup-ran.txt");
        std::atomic<int> served{0};
        content_.SetHandler(ListPath(), [&, this](const TestServers::RecordedRequest&) {
            const int n = served++;
            if (n < 7 * row.fetchesPerFailedPass) {
                if (auto fault = row.fault(n % row.fetchesPerFailedPass)) {
                    return *fault;
                }
            }
            return TestServers::Reply::Text(200, ListText());
        });
        {
            DownloadCore core;
            RunDownload(core);
        }
        EXPECT_EQ(WaitForFile(root_ / "setup-ran.txt"), programFolder_.string() + "\n");
        EXPECT_EQ(ReadFile(Local("Data-1a.bin")), files_["Data-1a.bin"]);
        EXPECT_EQ(content_.RequestsTo(ListPath()).size(),
                  static_cast<std::size_t>(7 * row.fetchesPerFailedPass + 4));
        EXPECT_EQ(FileRequests("Data-1a.bin"), row.fileRequests);
        EXPECT_FALSE(HasErrorMessage("Maximum download attempts exceeded"));
        std::size_t crcReports = 0;
        for (const std::string& message : vesk::GetErrorMessages()) {
            crcReports += message.find("CRC is not correct") != std::string::npos;
        }
        EXPECT_EQ(crcReports, row.crcReports);
        EXPECT_EQ(vesk::GetErrorMessages().size(), row.crcReports);
        if (row.crcReports > 0) {
            EXPECT_TRUE(HasLogEntry("seem to be resolved"));
        }
    }
}

TEST_F(DownloadCoreTest, AFileChangedOnDiskAfterItsWorkerAcceptedItIsDeletedAndFetchedAgain) {
    AddSetupProgram();
    AddFile("Data-1a.bin", PatternBytes(4000));
    std::atomic<int> served{0};
    std::atomic<bool> presentAtSecondPass{true};
    content_.SetHandler(ListPath(), [&, this](const TestServers::RecordedRequest&) {
        const int n = served++;
        if (n == 2) {  // the first verification's list: the worker has accepted the file
            ChangeOnDisk(Local("Data-1a.bin"));
        } else if (n == 4) {  // the second pass begins
            presentAtSecondPass = fs::exists(Local("Data-1a.bin"));
        }
        return TestServers::Reply::Text(200, ListText());
    });
    DownloadCore core;
    RunDownload(core);

    bool reported = false;
    for (const auto& entry : vesk::GetLogEntries()) {
        if (entry.value("message", "")
                .find("CRC is not correct: " + Local("Data-1a.bin").string()) !=
            std::string::npos) {
            reported = true;
            EXPECT_EQ(entry.value("error_number", 0), vesk::ErrorNumber::CrcMismatch);
        }
    }
    EXPECT_TRUE(reported);
    EXPECT_FALSE(presentAtSecondPass) << "the changed copy is deleted by the verification";
    EXPECT_EQ(FileRequests("Data-1a.bin"), 2u);
    EXPECT_EQ(ReadFile(Local("Data-1a.bin")), files_["Data-1a.bin"]);
    EXPECT_EQ(WaitForFile(root_ / "setup-ran.txt"), programFolder_.string() + "\n");
}

}  // namespace
}  // namespace DownloadSystem::Testing
