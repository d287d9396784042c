// The engine on WinINet against the native reference release server, which
// scripts/test-windows starts for the run with a demo release (its Setup.exe a Windows
// program that leaves setup-ran.txt), a CA trusted in the run's Wine prefix and a second
// server whose CA is not trusted. Covers pull reads, time-outs and cancellation, refused
// certificates, the whole job (manifest form post, list, downloads, CRC checks, setup
// start), files kept or fetched again, memory downloads and the streamed log upload.
#include <winsock2.h>

#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <thread>

#include "DownloadSystem/CGZip.h"
#include "DownloadSystem/CRC.h"
#include "DownloadSystem/Connection.h"
#include "DownloadSystem/DownloadCore.h"
#include "DownloadSystem/DownloadManager.h"
#include "DownloadSystem/Endpoints.h"
#include "DownloadSystem/FileDownload.h"
#include "DownloadSystem/FileList.h"
#include "DownloadSystem/FileUpload.h"
#include "DownloadSystem/ResumeRecord.h"
#include "EngineCase.h"
#include "Platform/Http.h"
#include "Platform/Paths.h"
#include "Support/ByteBuffer.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace DownloadSystem;
using DownloadSystem::Testing::ReadFile;
using DownloadSystem::Testing::Wide;

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::u16string U16(const fs::path& path) {
    const std::wstring wide = path.wstring();
    return std::u16string(wide.begin(), wide.end());
}

struct Server {
    std::string host = Environment("SORVAN_TEST_SERVICE_HOST");  // "localhost:port"
    std::string untrusted = Environment("SORVAN_TEST_UNTRUSTED_HOST");
    fs::path content = Environment("SORVAN_TEST_CONTENT");
    fs::path reports = Environment("SORVAN_TEST_REPORTS");
    std::string release = Environment("SORVAN_TEST_RELEASE");
    bool Ready() const { return !host.empty() && !content.empty() && !release.empty(); }
    fs::path ReleaseFolder() const {
        return content / "files" / release.substr(release.find('_') + 1, 1) / release;
    }
};

// Wine's WinINet does not bound a TLS handshake with the receive time-out, so the
// silent-server time-out can only be checked on Windows.
bool RunningUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// A loopback listener that accepts and never answers: a silent server.
class SilentListener {
public:
    SilentListener() {
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);
        socket_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(socket_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(socket_, 8);
        int length = sizeof address;
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
    }
    ~SilentListener() {
        ::closesocket(socket_);
        WSACleanup();
    }
    std::uint16_t Port() const { return port_; }

private:
    SOCKET socket_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
};

// One GET through the platform layer; the body is pulled in small pieces.
struct Fetched {
    bool sent = false;
    std::uint32_t error = 0;
    std::uint32_t status = 0;
    std::string headers;
    std::string body;
};

Fetched Get(const std::string& host, const std::string& path, std::uint32_t receiveTimeout = 30000,
            Platform::HttpCancelCheck cancel = {}) {
    Fetched out;
    Platform::HttpSession session;
    Platform::HttpConnection connection;
    Platform::HttpRequest request;
    EXPECT_TRUE(session.Open("Sorvan test"));
    session.SetReceiveTimeout(receiveTimeout);
    session.SetConnectTimeout(5000);
    session.SetCancelCheck(std::move(cancel));
    EXPECT_TRUE(connection.Open(session, host, 443));
    EXPECT_TRUE(request.Open(connection, "GET", path, true));
    out.sent = request.Send("Accept: */*\r\n");
    if (!out.sent) {
        out.error = request.LastError();
        return out;
    }
    request.QueryStatusCode(out.status);
    request.QueryRawHeaders(out.headers);
    char piece[777];
    std::size_t got = 0;
    while (request.Read(piece, sizeof piece, got) && got > 0) {
        out.body.append(piece, got);
    }
    out.error = request.LastError();
    return out;
}

class ReferenceServer : public testing::Test {
protected:
    void SetUp() override {
        if (!server_.Ready()) {
            GTEST_SKIP() << "run through scripts/test-windows, which starts the server";
        }
        vesk::ClearErrors();
        root_ = fs::temp_directory_path() /
                ("sorvan-engine-" + std::to_string(GetCurrentProcessId()) + "-" +
                 testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(root_);
        fs::create_directories(root_ / "program");
        std::ofstream(root_ / "hosts") << "127.0.0.1 localhost\r\n";
        Platform::Paths::OverrideExecutablePath(
            U16(root_ / "program" / (server_.release + "_demo.exe")));
        Platform::Paths::OverrideLocalAppDataFolder(U16(root_ / "appdata"));
        Platform::Paths::OverrideHostsFilePath(U16(root_ / "hosts"));
        Endpoints::OverrideServiceHost(Wide(server_.host));
    }
    void TearDown() override {
        Endpoints::OverrideServiceHost(u"");
        Platform::Paths::OverrideExecutablePath(u"");
        Platform::Paths::OverrideLocalAppDataFolder(u"");
        Platform::Paths::OverrideHostsFilePath(u"");
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    static void RunJob(DownloadCore& core) {
        std::u16string error;
        ASSERT_TRUE(core.RequestDownload(error)) << vesk::StringUtils::ToNarrow(error);
        core.StartDownload();
        for (int i = 0; i < 1200 && !core.IsFinished(); ++i) {
            std::this_thread::sleep_for(50ms);
        }
        ASSERT_TRUE(core.IsFinished()) << "the job did not end within 60 s";
    }

    Server server_;
    fs::path root_;
};

TEST_F(ReferenceServer, PullReadsStatusAndFailureNumbers) {
    const fs::path folder = server_.ReleaseFolder();
    const std::string object =
        "/files/" + folder.parent_path().filename().string() + "/" + server_.release + "/Setup.exe";
    const Fetched setup = Get(server_.host, object);
    ASSERT_TRUE(setup.sent) << setup.error;
    EXPECT_EQ(setup.status, 200u);
    EXPECT_EQ(setup.headers.rfind("HTTP/1.1 200", 0), 0u) << setup.headers;
    EXPECT_EQ(setup.headers.substr(setup.headers.size() - 4), "\r\n\r\n");
    EXPECT_EQ(setup.body, ReadFile(folder / "Setup.exe"));
    EXPECT_EQ(Get(server_.host, "/files/absent.bin").status, 404u);

    struct Case {
        const char* what;
        std::string host;
        std::uint32_t error;
    };
    SilentListener silent;
    const std::string closedPort = "127.0.0.1:" + std::to_string(silent.Port() + 1);
    const Case cases[] = {
        {"nothing listens", closedPort, Platform::HttpError::CannotConnect},
        {"certificate of an unknown CA", server_.untrusted,
         Platform::HttpError::InvalidCertificateAuthority},
        {"server stays silent", "127.0.0.1:" + std::to_string(silent.Port()),
         Platform::HttpError::Timeout},
    };
    for (const Case& row : cases) {
        SCOPED_TRACE(row.what);
        if (row.error == Platform::HttpError::Timeout && RunningUnderWine()) {
            continue;
        }
        const Fetched fetched = Get(row.host, "/", 1500);
        EXPECT_FALSE(fetched.sent);
        EXPECT_EQ(fetched.error, row.error);
    }
}

TEST_F(ReferenceServer, CancelCheckEndsABlockedCallPromptly) {
    SilentListener silent;
    std::atomic<bool> stop{false};
    std::thread stopper([&stop] {
        std::this_thread::sleep_for(500ms);
        stop = true;
    });
    const auto start = std::chrono::steady_clock::now();
    const Fetched fetched = Get("127.0.0.1:" + std::to_string(silent.Port()), "/", 30000,
                                [&stop] { return stop.load(); });
    const auto waited = std::chrono::steady_clock::now() - start;
    stopper.join();
    EXPECT_FALSE(fetched.sent);
    EXPECT_EQ(fetched.error, Platform::HttpError::OperationCancelled);
    EXPECT_LT(waited, 10s);  // far below the 30 s receive time-out
}

// The demo release, for the engine cases shared with the in-process servers.
class ReferenceServerRelease : public ReferenceServer {
public:
    static constexpr bool CountsRequests = false;

protected:
    // Every listed file: the list itself is the .txt, its signature the .sig.
    std::map<std::string, std::string> Published() const {
        std::map<std::string, std::string> files;
        for (const auto& entry : fs::directory_iterator(server_.ReleaseFolder())) {
            if (entry.path().extension() != ".txt" && entry.path().extension() != ".sig") {
                files[entry.path().filename().string()] = ReadFile(entry.path());
            }
        }
        EXPECT_GE(files.size(), 2u);
        return files;
    }
    fs::path Local(const std::string& name) const {
        return root_ / "program" / fs::path(MakeLocalName(Wide(name), u"_SV95"));
    }
    static void RunDownload(DownloadCore& core) { RunJob(core); }
    void ExpectSetupRan() const {
        const fs::path ran = root_ / "program" / "setup-ran.txt";
        const auto deadline = std::chrono::steady_clock::now() + 30s;
        while (!fs::exists(ran) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(100ms);
        }
        EXPECT_TRUE(fs::exists(ran));
        std::this_thread::sleep_for(500ms);
    }
    void ForgetSetupRun() const { fs::remove(root_ / "program" / "setup-ran.txt"); }
};

}  // namespace

namespace DownloadSystem::Testing {
INSTANTIATE_TYPED_TEST_SUITE_P(ReferenceServer, EngineCase, ReferenceServerRelease);
}  // namespace DownloadSystem::Testing

namespace {

// Windows enforces share modes: a release file that another program (a virus scanner, a
// setup still running) holds open without sharing cannot be written. That costs the file
// its attempts and ends the download saying so, not asking to free disk space; once the
// other program lets go, the next run completes.
TEST_F(ReferenceServer, AFileHeldByAnotherProgramEndsTheDownloadNamingThatCause) {
    const fs::path program = root_ / "program";
    fs::path held;
    fs::path served;
    for (const auto& entry : fs::directory_iterator(server_.ReleaseFolder())) {
        if (entry.path().extension() == ".bin") {
            served = entry.path();
            held = program / fs::path(MakeLocalName(U16(served.filename()), u"_SV95"));
            break;
        }
    }
    ASSERT_FALSE(held.empty());
    std::ofstream(held) << "an older copy";
    const HANDLE other = CreateFileW(held.wstring().c_str(), GENERIC_READ, 0, nullptr,
                                     OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(other, INVALID_HANDLE_VALUE);
    {
        DownloadCore core;
        RunJob(core);
        EXPECT_NE(vesk::GetUserMessage().find("a file is in use by another program"),
                  std::string::npos)
            << vesk::GetUserMessage();
        bool costAttempts = false;
        for (const std::string& message : vesk::GetErrorMessages()) {
            costAttempts = costAttempts || message.find("Couldn't create part file") == 0;
        }
        EXPECT_TRUE(costAttempts);
    }
    EXPECT_FALSE(fs::exists(program / "setup-ran.txt"));
    CloseHandle(other);

    vesk::ClearErrors();
    {
        DownloadCore core;
        RunJob(core);
        EXPECT_TRUE(vesk::GetErrorMessages().empty()) << vesk::GetErrorMessages().front();
    }
    EXPECT_EQ(ReadFile(held), ReadFile(served));
}

TEST_F(ReferenceServer, APartFileLeftByAnEarlierRunGoesOnFromItsRecord) {
    const fs::path folder = server_.ReleaseFolder();
    const std::string expected = ReadFile(folder / "Setup.exe");
    ASSERT_GT(expected.size(), 2u);
    const std::u16string remotePath =
        u"/files/" + U16(folder.parent_path().filename()) + u"/" + Wide(server_.release) + u"/";
    const Fetched head = Get(server_.host, vesk::StringUtils::ToNarrow(remotePath) + "Setup.exe");
    const std::string validator = ObjectValidator(head.headers);
    ASSERT_FALSE(validator.empty()) << head.headers;

    // What a killed run leaves: the bytes its record vouches for, and some written after.
    const std::size_t kept = expected.size() / 2;
    const fs::path part = root_ / "resume" / "Setup.exe";
    fs::create_directories(part.parent_path());
    std::ofstream(part, std::ios::binary) << expected.substr(0, kept) << "bytes after the record";
    const std::uint32_t crc = CRC().Extend(0, expected.data(), expected.size());
    const ResumeRecord record{
        remotePath, expected.size(), crc, kept, CRC().Extend(0, expected.data(), kept), validator};
    ASSERT_TRUE(record.Save(U16(part)));

    FileDownload download;
    download.SetServer(Wide(server_.host));
    download.SetRemotePath(remotePath);
    download.SetRemoteFile(u"Setup.exe");
    download.SetExpectedCrc(crc);
    download.SetExpectedSize(expected.size());
    ASSERT_TRUE(download.StartToFile(U16(part)));
    ASSERT_EQ(download.Wait(60000), vesk::Tavrin_Thread::WaitEnded);
    EXPECT_TRUE(download.Succeeded());
    EXPECT_EQ(ReadFile(part), expected);
    EXPECT_FALSE(fs::exists(part.string() + ".resume"));
    std::size_t continued = 0;
    for (const auto& entry : vesk::GetLogEntries()) {
        const std::string message = entry.value("message", "");
        continued += message.find("goes on from byte " + std::to_string(kept)) != std::string::npos;
    }
    EXPECT_EQ(continued, 1u);
}

TEST_F(ReferenceServer, MemoryDownloadAndStreamedLogUpload) {
    const fs::path folder = server_.ReleaseFolder();
    const std::string expected = ReadFile(folder / "Setup.exe");
    FileDownload download;
    download.SetServer(Wide(server_.host));
    download.SetRemotePath(u"/files/" + U16(folder.parent_path().filename()) + u"/" +
                           Wide(server_.release) + u"/");
    download.SetRemoteFile(u"Setup.exe");
    download.SetExpectedCrc(CRC().Extend(0, expected.data(), expected.size()));
    download.DownloadToMemory();
    EXPECT_EQ(download.GetState(), DownloadState::Finished);
    const vesk::ByteBuffer& data = download.GetData();
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data.Data()), data.Size()), expected);

    // A gzip log report streamed in pieces to the service; the server stores it.
    const std::size_t before =
        fs::exists(server_.reports)
            ? static_cast<std::size_t>(std::distance(fs::directory_iterator(server_.reports), {}))
            : 0;
    // The report as the engine makes it: UTF-16LE JSON, gzip-compressed.
    const std::u16string gzPath = U16(root_ / "report.gz");
    {
        zlib::CGZip zip;
        ASSERT_TRUE(zip.Open(gzPath, zlib::CZipper::ModeWrite));
        zip.WriteString(u"[{\"message\":\"Windows test report\"}]");
        ASSERT_TRUE(zip.Close());
    }
    const std::string gzip = ReadFile(fs::path(std::wstring(gzPath.begin(), gzPath.end())));
    vesk::ByteBuffer body;
    body.Append(gzip.data(), gzip.size());
    FileUpload upload;
    upload.SendBodyRequest(Endpoints::ServiceUrl(), HttpVerb::Post,
                           {{u"ComputerId", u"0123456789abcdef0123456789abcdef01234567"},
                            {u"Content-Type", u"application/octet-stream"},
                            {u"Method", u"LogErrorInfo"}},
                           body);
    EXPECT_EQ(upload.GetStatusCode(), 200) << upload.GetResponseText();
    if (!server_.reports.empty()) {
        EXPECT_GT(
            static_cast<std::size_t>(std::distance(fs::directory_iterator(server_.reports), {})),
            before);
    }
}

}  // namespace
