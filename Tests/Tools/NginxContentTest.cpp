// A packed release served by nginx, the configuration written by make-nginx-config:
// the real engine downloads and verifies a signed release from it, and nginx's own
// secure_link check turns away tampered, expired and plain paths with 403. The host
// is "<marker>.localhost", which the client's HTTP library resolves to loopback by
// itself; the certificate nginx presents is made here for that name.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <pwd.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <httplib.h>

#include <ctime>
#include <nlohmann/json.hpp>

#include "ClientConfiguration.h"
#include "DownloadSystem/FileDownload.h"
#include "EngineFixture.h"
#include "ReleasePacker.h"
#include "ReleaseServer.h"
#include "ReportBody.h"
#include "Servers/FreePort.h"
#include "Servers/TestCertificates.h"
#include "SignedPath.h"

namespace DownloadSystem::Testing {
namespace {

// Starts `args` with stdout and stderr appended to `log`; the child ends with this
// process. Returns the child's id, -1 when it could not be started.
pid_t Spawn(const std::vector<std::string>& args, const fs::path& log) {
    std::vector<char*> argv;
    for (const std::string& arg : args) {
        argv.push_back(const_cast<char*>(arg.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::prctl(PR_SET_PDEATHSIG, SIGTERM);
        const int fd = ::open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
        if (fd >= 0) {
            ::dup2(fd, 1);
            ::dup2(fd, 2);
        }
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    return pid;
}

// Waits up to `timeout` for the child; its exit status, or -1 when it still runs.
int WaitExit(pid_t pid, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    int status = 0;
    while (::waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > end) {
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

int RunToEnd(const std::vector<std::string>& args, const fs::path& log) {
    const pid_t pid = Spawn(args, log);
    if (pid < 0) {
        return -1;
    }
    const int status = WaitExit(pid, std::chrono::seconds(30));
    if (status < 0) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, nullptr, 0);
    }
    return status;
}

bool Accepts(std::uint16_t port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
    ::close(fd);
    return ok;
}

std::string FindNginx() {
    for (const char* candidate : {"/usr/sbin/nginx", "/usr/local/sbin/nginx", "/usr/bin/nginx"}) {
        if (::access(candidate, X_OK) == 0) {
            return candidate;
        }
    }
    return {};
}

class NginxContentTest : public EngineFixture {
protected:
    // Capitals on purpose: the client signs the folder as described but lower-cases it in
    // the path, and nginx must map that path back to the real folder.
    static constexpr char kSubdir[] = "Files/Sorvan_9_4";
    // Characters nginx's configuration syntax would otherwise take as its own.
    static constexpr char kSecret[] = "k\"e\\y/+=9";

    void SetUp() override {
        EngineFixture::SetUp();
        nginx_ = FindNginx();
        if (nginx_.empty() || RunToEnd({nginx_, "-v"}, root_ / "nginx-version.log") != 0) {
            GTEST_SKIP() << "nginx cannot run here (scripts/setup installs nginx-light)";
        }
        content_root_ = root_ / "content";
        state_ = root_ / "nginx";
        fs::create_directories(state_);
        port_ = TestServers::UnusedLoopbackPort();
        ASSERT_NE(port_, 0);
        host_ = Tools::DefaultSignedStorageMarker() + ".localhost";
        // Signed by the authority the client already trusts for the test service.
        ASSERT_TRUE(TestServers::WriteServerCertificateFiles(root_ / "nginx.pem",
                                                             root_ / "nginx.key", "DNS:" + host_));
    }

    void TearDown() override {
        StopNginx();
        EngineFixture::TearDown();
    }

    std::string Host() const { return host_ + ":" + std::to_string(port_); }

    fs::path ReleaseFolder() const { return content_root_ / kSubdir; }

    void Pack(const std::string& release, const std::string& subdir, const std::string& host,
              const std::string& secret) {
        Tools::PackOptions options;
        options.contentRoot = content_root_;
        options.release = {release, ProductCode, "Vesk", subdir, host, secret};
        options.signedStorageMarker = Tools::DefaultSignedStorageMarker();
        Tools::ReleasePacker packer(options);
        std::string error;
        ASSERT_TRUE(packer.Pack(error)) << error;
        manifest_ = Tools::ToJsonText(packer.Description());
    }

    int Generate(const fs::path& output, const std::vector<std::string>& extra = {}) {
        std::vector<std::string> args = {NGINX_CONFIG_GENERATOR,
                                         "--content-root",
                                         content_root_.string(),
                                         "--state",
                                         state_.string(),
                                         "--cert",
                                         (root_ / "nginx.pem").string(),
                                         "--key",
                                         (root_ / "nginx.key").string(),
                                         "--listen",
                                         "127.0.0.1:" + std::to_string(port_),
                                         "--marker",
                                         Tools::DefaultSignedStorageMarker(),
                                         "--output",
                                         output.string()};
        args.insert(args.end(), extra.begin(), extra.end());
        if (::geteuid() == 0) {
            // Workers keep this user's rights, so they can read the test's folders.
            args.insert(args.end(), {"--user", ::getpwuid(0)->pw_name});
        }
        return RunToEnd(args, root_ / "generator.log");
    }

    void StartNginx(const std::vector<std::string>& extra = {}) {
        ASSERT_EQ(Generate(root_ / "nginx.conf", extra), 0) << ReadFile(root_ / "generator.log");
        pid_ = Spawn(
            {nginx_, "-p", state_.string(), "-c", (root_ / "nginx.conf").string(), "-e", "stderr"},
            root_ / "nginx.log");
        ASSERT_GT(pid_, 0);
        for (int i = 0; i < 200 && !Accepts(port_); ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                FAIL() << "nginx ended at start:\n" << ReadFile(root_ / "nginx.log");
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        ASSERT_TRUE(Accepts(port_)) << "nginx did not listen within 10 s:\n"
                                    << ReadFile(root_ / "nginx.log");
    }

    void StopNginx() {
        if (pid_ <= 0) {
            return;
        }
        ::kill(pid_, SIGTERM);
        if (WaitExit(pid_, std::chrono::seconds(5)) < 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        pid_ = -1;
    }

    // The status nginx answers the client's own download worker for `path`.
    std::int32_t StatusFor(const std::string& path) {
        FileDownload download;
        download.SetServer(Wide(Host()));
        download.SetRemotePath(Wide(path));
        download.DownloadToMemory();
        download.FreeData();
        return download.GetErrorCode();
    }

    std::string nginx_;
    fs::path content_root_;
    fs::path state_;
    std::uint16_t port_ = 0;
    std::string host_;
    std::string manifest_;
    pid_t pid_ = -1;
};

TEST_F(NginxContentTest, EngineDownloadsASignedReleaseAndNginxRefusesBadSignatures) {
    const std::string setup = "#!/bin/sh\npwd > '" + (root_ / "setup-ran.txt").string() + "'\n";
    const std::map<std::string, std::string> files = {
        {"Data-1a.bin", PatternBytes(200 * 1024)},
        {"Data-2b.bin", PatternBytes(50 * 1024 + 7)},
        {"Setup.exe", setup},
    };
    for (const auto& [name, bytes] : files) {
        fs::create_directories(ReleaseFolder());
        WriteFile(ReleaseFolder() / name, bytes);
    }
    Pack("Sorvan_9_4", kSubdir, Host(), kSecret);
    // Beside it, an unsigned release that nginx serves plainly.
    fs::create_directories(content_root_ / "plain/9.3");
    WriteFile(content_root_ / "plain/9.3/Data-9z.bin", "plain bytes");
    const std::string signedManifest = manifest_;
    Pack("Sorvan_9_3", "plain/9.3", "localhost:" + std::to_string(port_), "");
    StartNginx();

    SetManifest(TestServers::Reply::Text(200, signedManifest));
    {
        DownloadCore core;
        RunDownload(core);
        EXPECT_TRUE(vesk::GetErrorMessages().empty()) << vesk::GetErrorMessages().front();
        for (const auto& [name, bytes] : files) {
            EXPECT_EQ(ReadFile(Local(name)), bytes) << name;
        }
        EXPECT_EQ(WaitForFile(root_ / "setup-ran.txt"), programFolder_.string() + "\n");
    }
    // Every request of the client went through a signed path and was served.
    const std::string log = ReadFile(state_ / "access.log");
    EXPECT_NE(log.find("/files/sorvan_9_4/Sorvan_9_4.txt HTTP/1.1\" 200"), std::string::npos)
        << log;
    EXPECT_NE(log.find("/files/sorvan_9_4/Data-1a.bin HTTP/1.1\" 200"), std::string::npos) << log;
    EXPECT_EQ(log.find("/Files/Sorvan_9_4/"), std::string::npos) << log;

    const std::string later = std::to_string(std::time(nullptr) + 3600);
    const std::string earlier = std::to_string(std::time(nullptr) - 60);
    const std::string good = Tools::SignatureFor(later, kSubdir, kSecret);
    std::string tampered = good;
    tampered[3] = tampered[3] == 'A' ? 'B' : 'A';
    const std::string file = "/files/sorvan_9_4/Data-2b.bin";
    EXPECT_EQ(StatusFor("/" + good + "," + later + file), 200);
    EXPECT_EQ(StatusFor("/" + tampered + "," + later + file), 403);
    // A valid signature does not carry over to another expiry, nor to a past one.
    EXPECT_EQ(StatusFor("/" + good + "," + std::to_string(std::time(nullptr) + 7200) + file), 403);
    EXPECT_EQ(
        StatusFor("/" + Tools::SignatureFor(earlier, kSubdir, kSecret) + "," + earlier + file),
        403);
    // The signed release's folder is not reachable around the signature.
    EXPECT_EQ(StatusFor("/Files/Sorvan_9_4/Data-2b.bin"), 403);
    // Unsigned content is plain; the descriptions with their secrets are never served.
    EXPECT_EQ(StatusFor("/plain/9.3/Data-9z.bin"), 200);
    EXPECT_EQ(StatusFor("/plain/9.3/Sorvan_9_3.txt"), 200);
    EXPECT_EQ(StatusFor("/releases/Sorvan_9_4.json"), 404);
}

TEST_F(NginxContentTest, GeneratorWritesNothingForADescriptionNginxCannotTake) {
    fs::create_directories(ReleaseFolder());
    WriteFile(ReleaseFolder() / "Data-1a.bin", "bytes");
    // "$" would be read by nginx as a variable inside the signed digest's text.
    Pack("Sorvan_9_4", kSubdir, Host(), "to$ken");
    WriteFile(root_ / "nginx.conf", "earlier");
    EXPECT_EQ(Generate(root_ / "nginx.conf"), 1);
    EXPECT_EQ(ReadFile(root_ / "nginx.conf"), "earlier");
    const std::string message = ReadFile(root_ / "generator.log");
    EXPECT_NE(message.find("SAS token of Sorvan_9_4"), std::string::npos) << message;
    EXPECT_EQ(message.find("to$ken"), std::string::npos) << "the secret is shown: " << message;
}

std::size_t CountFiles(const fs::path& folder) {
    std::error_code ec;
    std::size_t count = 0;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        ++count;
    }
    return count;
}

// The production shape: nginx in front (TLS, limits, content) and the release
// server behind it on loopback, plain HTTP, for the download service alone.
TEST_F(NginxContentTest, ServiceBehindNginxAnswersAndNginxEnforcesTheLimits) {
    fs::create_directories(content_root_ / "plain/9.3");
    WriteFile(content_root_ / "plain/9.3/Data-9z.bin", "plain bytes");
    Pack("Sorvan_9_3", "plain/9.3", "localhost:" + std::to_string(port_), "");
    fs::create_symlink(content_root_ / "releases", content_root_ / "plain/descriptions");

    Tools::ServerOptions options;
    options.behindFront = true;
    options.address = "127.0.0.1";
    options.port = 0;
    options.contentRoot = content_root_;
    options.reportsFolder = root_ / "reports";
    Tools::ReleaseServer service(options);
    std::string error;
    ASSERT_TRUE(service.Start(error)) << error;
    StartNginx({"--service", "127.0.0.1:" + std::to_string(service.Port()), "--service-max-body",
                "65536"});

    httplib::SSLClient client("127.0.0.1", port_);
    client.enable_server_certificate_verification(false);  // our own nginx on loopback
    client.set_read_timeout(10);
    const httplib::Headers report = {{"Method", "LogErrorInfo"},
                                     {"ComputerId", "0123456789abcdef0123456789abcdef01234567"}};

    auto manifest = client.Post(Tools::kServiceEndpoint, {{"Method", "RequestDownload"}},
                                "ReleaseName=Sorvan_9_3", "application/x-www-form-urlencoded");
    ASSERT_TRUE(manifest) << httplib::to_string(manifest.error());
    EXPECT_EQ(nlohmann::json::parse(manifest->body)["download_subdir"], "plain/9.3");

    auto stored = client.Post(Tools::kServiceEndpoint, report,
                              ToolsTest::Gzip(ToolsTest::Utf16Le("[{\"message\":\"m\"}]")),
                              "application/octet-stream");
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->status, 200) << stored->body;
    EXPECT_EQ(CountFiles(root_ / "reports"), 1u);

    // A chunked body past nginx's limit never reaches the service.
    const std::string block(16 * 1024, 'x');
    std::size_t sent = 0;
    auto chunked = client.Post(
        Tools::kServiceEndpoint, report,
        [&](std::size_t, httplib::DataSink& sink) {
            if (sent >= 256 * 1024) {
                sink.done();
                return true;
            }
            sent += block.size();
            return sink.write(block.data(), block.size());
        },
        "application/octet-stream");
    if (chunked) {
        EXPECT_EQ(chunked->status, 413);
    }
    EXPECT_EQ(CountFiles(root_ / "reports"), 1u);

    httplib::SSLClient content("127.0.0.1", port_);
    content.enable_server_certificate_verification(false);
    for (const char* path : {"/releases/Sorvan_9_3.json", "/Releases/Sorvan_9_3.json",
                             "/plain/descriptions/Sorvan_9_3.json"}) {
        auto refused = content.Get(path);
        ASSERT_TRUE(refused) << path;
        EXPECT_EQ(refused->status, 404) << path;
    }
    auto plain = content.Get("/plain/9.3/Data-9z.bin");
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->body, "plain bytes");
    service.Stop();
}

// Asks nginx for `path` over TLS with a small receive window, reads 8 KiB every
// 20 ms for `readingFor`, then drains the rest at full speed; the bytes of the
// reply (head included) received before nginx ended the connection.
std::size_t ReadSlowlyThenDrain(std::uint16_t port, const std::string& path,
                                std::chrono::milliseconds readingFor) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int window = 16 * 1024;
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &window, sizeof window);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    timeval wait{10, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &wait, sizeof wait);
    SSL_CTX* context = SSL_CTX_new(TLS_client_method());
    SSL* ssl = SSL_new(context);
    SSL_set_fd(ssl, fd);
    std::size_t received = 0;
    const std::string request =
        "GET " + path + " HTTP/1.1\r\nHost: localhost\r\nConnection: close\r\n\r\n";
    if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        SSL_connect(ssl) == 1 &&
        SSL_write(ssl, request.data(), static_cast<int>(request.size())) > 0) {
        std::vector<char> buffer(256 * 1024);
        const auto end = std::chrono::steady_clock::now() + readingFor;
        bool open = true;
        while (open && std::chrono::steady_clock::now() < end) {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
            const int n = SSL_read(ssl, buffer.data(), 8 * 1024);
            open = n > 0;
            received += open ? static_cast<std::size_t>(n) : 0;
        }
        for (int n;
             open && (n = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()))) > 0;) {
            received += static_cast<std::size_t>(n);
        }
    }
    SSL_free(ssl);
    SSL_CTX_free(context);
    ::close(fd);
    return received;
}

TEST_F(NginxContentTest, ASlowButSteadyReaderIsNotCut) {
    const std::size_t size = 16u << 20;
    fs::create_directories(content_root_ / "downloadmanager/9");
    WriteFile(content_root_ / "downloadmanager/9/Large.bin", std::string(size, 'z'));
    // Reading for three times the no-progress limit, far more slowly than the
    // socket buffers could drain in it.
    StartNginx({"--send-timeout", "1"});
    EXPECT_GT(ReadSlowlyThenDrain(port_, "/downloadmanager/9/Large.bin", std::chrono::seconds(3)),
              size);  // the whole file and the reply head
}

}  // namespace
}  // namespace DownloadSystem::Testing
