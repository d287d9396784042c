// The Windows backends of the platform layer against the real system (under Wine in CI):
// files and their error numbers, folder notifications, well-known paths, machine facts,
// digests, error texts and starting a program through the shell.
#include <winsock2.h>

#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "Platform/Console.h"
#include "Platform/Crypto.h"
#include "Platform/Files.h"
#include "Platform/FolderWatch.h"
#include "Platform/Http.h"
#include "Platform/MachineFacts.h"
#include "Platform/Paths.h"
#include "Platform/Shell.h"
#include "Platform/SystemError.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Platform::File;
using Platform::LastSystemError;
namespace Files = Platform::Files;

std::u16string U16(const fs::path& path) {
    const std::wstring wide = path.wstring();
    return std::u16string(wide.begin(), wide.end());
}

class Win32Backends : public testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("sorvan-win32-" + std::to_string(GetCurrentProcessId()) + "-" +
                   testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(folder_);
        fs::create_directories(folder_);
    }
    void TearDown() override {
        std::error_code ignored;
        fs::remove_all(folder_, ignored);
    }
    fs::path folder_;
};

TEST_F(Win32Backends, FilesRoundTripAndErrorNumbers) {
    const std::vector<char> data(70000, 'x');
    {
        File out = File::CreateForWriting(U16(folder_ / L"data.bin"));
        ASSERT_TRUE(out.IsOpen());
        // Written for this handle alone: another opener is refused while it is open.
        EXPECT_FALSE(File::OpenForReading(U16(folder_ / L"data.bin")).IsOpen());
        EXPECT_TRUE(out.Write(data.data(), data.size()));
        std::uint64_t size = 0;
        EXPECT_TRUE(out.Size(size));
        EXPECT_EQ(size, data.size());
        EXPECT_TRUE(out.Close());
        EXPECT_FALSE(out.Close());
    }
    File in = File::OpenForReading(U16(folder_ / L"data.bin"));
    ASSERT_TRUE(in.IsOpen());
    // Readers share: a second reader opens while the first is open.
    EXPECT_TRUE(File::OpenForReading(U16(folder_ / L"data.bin")).IsOpen());
    std::vector<char> back(data.size() + 10);
    std::size_t got = 0;
    EXPECT_TRUE(in.Read(back.data(), back.size(), got));
    EXPECT_EQ(got, data.size());
    EXPECT_TRUE(in.Read(back.data(), back.size(), got));
    EXPECT_EQ(got, 0u);
    in = File();

    // Appending keeps what the file holds and writes after it, however far the last
    // handle had got; a missing file is not created.
    {
        File more = File::OpenForAppending(U16(folder_ / L"data.bin"));
        ASSERT_TRUE(more.IsOpen());
        EXPECT_TRUE(more.Write("tail", 4));
        EXPECT_TRUE(more.Close());
    }
    std::ifstream appended(folder_ / L"data.bin", std::ios::binary);
    const std::string whole((std::istreambuf_iterator<char>(appended)),
                            std::istreambuf_iterator<char>());
    appended.close();
    EXPECT_EQ(whole, std::string(data.begin(), data.end()) + "tail");

    // Cutting an appending file: the next write goes to the new end; growing is refused.
    {
        File cut = File::OpenForAppending(U16(folder_ / L"data.bin"));
        ASSERT_TRUE(cut.IsOpen());
        EXPECT_FALSE(cut.Truncate(whole.size() + 1));
        EXPECT_TRUE(cut.Truncate(3));
        EXPECT_TRUE(cut.Write("end", 3));
        EXPECT_TRUE(cut.Close());
    }
    std::uint64_t cutSize = 0;
    EXPECT_TRUE(Files::GetSize(U16(folder_ / L"data.bin"), cutSize));
    EXPECT_EQ(cutSize, 6u);
    EXPECT_FALSE(File::OpenForAppending(U16(folder_ / L"absent.bin")).IsOpen());
    EXPECT_TRUE(Files::IsNotFoundError(LastSystemError()));
    EXPECT_FALSE(fs::exists(folder_ / L"absent.bin"));

    EXPECT_TRUE(Files::Remove(U16(folder_ / L"data.bin")));
    EXPECT_FALSE(Files::Exists(U16(folder_ / L"data.bin")));

    const std::u16string absent = U16(folder_ / L"absent.bin");
    for (const auto& call : std::vector<std::pair<const char*, bool (*)(const std::u16string&)>>{
             {"open", [](const std::u16string& p) { return File::OpenForReading(p).IsOpen(); }},
             {"remove", [](const std::u16string& p) { return Files::Remove(p); }},
             {"size",
              [](const std::u16string& p) {
                  std::uint64_t s;
                  return Files::GetSize(p, s);
              }},
             {"attributes",
              [](const std::u16string& p) {
                  Files::Attributes a;
                  return Files::GetAttributes(p, a);
              }},
             {"executable", [](const std::u16string& p) { return Files::MakeExecutable(p); }},
         }) {
        SCOPED_TRACE(call.first);
        EXPECT_FALSE(call.second(absent));
        EXPECT_TRUE(Files::IsNotFoundError(LastSystemError())) << LastSystemError();
    }
    EXPECT_FALSE(File::CreateForWriting(U16(folder_ / L"no-folder" / L"x.bin")).IsOpen());
    EXPECT_TRUE(Files::IsNotFoundError(LastSystemError()));
}

TEST_F(Win32Backends, FoldersAndUnsafeNames) {
    const std::u16string sub = U16(folder_ / L"sub");
    EXPECT_TRUE(Files::MakeDirectory(sub));
    EXPECT_FALSE(Files::MakeDirectory(sub));
    EXPECT_EQ(LastSystemError(), ERROR_ALREADY_EXISTS);
    EXPECT_TRUE(Files::IsDirectory(sub));
    EXPECT_FALSE(File::OpenForReading(sub).IsOpen());
    EXPECT_FALSE(Files::Remove(sub));

    EXPECT_TRUE(Files::MakeDirectoryPath(U16(folder_ / L"a" / L"b" / L"c")));
    EXPECT_TRUE(Files::IsDirectory(U16(folder_ / L"a" / L"b" / L"c")));
    EXPECT_TRUE(Files::MakeDirectoryPath(U16(folder_ / L"a" / L"b" / L"c") + u"\\"));
    std::ofstream(folder_ / L"a" / L"file") << "x";
    EXPECT_FALSE(Files::MakeDirectoryPath(U16(folder_ / L"a" / L"file" / L"d")));
    EXPECT_EQ(LastSystemError(), ERROR_DIRECTORY);

    // Non-ASCII names reach the W functions intact; an embedded zero or a lone surrogate
    // is refused instead of naming another file.
    const std::u16string name = U16(folder_) + u"\\Gr\u00fc\u00df \u6587.bin";
    EXPECT_TRUE(File::CreateForWriting(name).IsOpen());
    EXPECT_TRUE(fs::exists(folder_ / L"Gr\u00fc\u00df \u6587.bin"));
    const std::u16string unsafe[] = {U16(folder_) + u"\\visible" + std::u16string(1, u'\0') + u"x",
                                     U16(folder_) + u"\\lone" + std::u16string(1, u'\xD800')};
    for (const std::u16string& path : unsafe) {
        EXPECT_FALSE(File::CreateForWriting(path).IsOpen());
        EXPECT_EQ(LastSystemError(), ERROR_INVALID_NAME);
    }
    EXPECT_FALSE(fs::exists(folder_ / L"visible"));
}

TEST_F(Win32Backends, FolderWatchReportsChangesAndStops) {
    Platform::FolderWatch watch;
    ASSERT_TRUE(watch.Open(U16(folder_)));
    std::vector<Platform::FolderEvent> events;
    const auto late = [start = std::chrono::steady_clock::now()] {
        return std::chrono::steady_clock::now() - start > 10s;
    };

    std::ofstream(folder_ / L"setup.exe") << "x";
    ASSERT_EQ(watch.Wait(events, late), Platform::FolderWatch::WaitResult::Changes);
    EXPECT_EQ(events.at(0).change, Platform::FolderChange::Added);
    EXPECT_EQ(events.at(0).name, u"setup.exe");

    // Collect until the rename shows up: the system may still report the write first.
    fs::rename(folder_ / L"setup.exe", folder_ / L"renamed.exe");
    std::vector<Platform::FolderEvent> all;
    while (all.empty() || all.back().change != Platform::FolderChange::RenamedTo) {
        ASSERT_EQ(watch.Wait(events, late), Platform::FolderWatch::WaitResult::Changes);
        all.insert(all.end(), events.begin(), events.end());
    }
    ASSERT_GE(all.size(), 2u);
    EXPECT_EQ(all[all.size() - 2].change, Platform::FolderChange::RenamedFrom);
    EXPECT_EQ(all[all.size() - 2].name, u"setup.exe");
    EXPECT_EQ(all.back().name, u"renamed.exe");

    const auto start = std::chrono::steady_clock::now();
    const auto stopAfter = [start] { return std::chrono::steady_clock::now() - start > 300ms; };
    EXPECT_EQ(watch.Wait(events, stopAfter), Platform::FolderWatch::WaitResult::Stopped);
    EXPECT_TRUE(events.empty());

    // A watch for removals and renames stays quiet while a file is made and written.
    Platform::FolderWatch quiet;
    ASSERT_TRUE(quiet.Open(U16(folder_), Platform::WatchedChanges::RemovalsAndRenames));
    {
        std::ofstream out(folder_ / L"written.bin");
        for (int i = 0; i < 20; ++i) {
            out << std::string(1024, 'x') << std::flush;
        }
    }
    fs::remove(folder_ / L"written.bin");
    ASSERT_EQ(quiet.Wait(events, late), Platform::FolderWatch::WaitResult::Changes);
    ASSERT_FALSE(events.empty());
    EXPECT_EQ(events.at(0).change, Platform::FolderChange::Removed);
    EXPECT_EQ(events.at(0).name, u"written.bin");

    Platform::FolderWatch other;
    EXPECT_FALSE(other.Open(U16(folder_ / L"absent")));
    EXPECT_TRUE(Files::IsNotFoundError(LastSystemError()));
    EXPECT_FALSE(other.Open(U16(folder_ / L"renamed.exe")));
    EXPECT_EQ(LastSystemError(), ERROR_DIRECTORY);
}

TEST(Win32Facts, PathsMachineFactsDigestsAndTexts) {
    const std::u16string executable = Platform::Paths::ExecutablePath();
    EXPECT_EQ(executable.substr(executable.rfind(u'\\') + 1), u"PlatformWin32BackendsTest.exe");
    const std::u16string appData = Platform::Paths::LocalAppDataFolder();
    EXPECT_FALSE(appData.empty());
    EXPECT_NE(appData.back(), u'\\');
    const std::u16string hosts = Platform::Paths::HostsFilePath();
    EXPECT_TRUE(hosts.ends_with(u"\\system32\\drivers\\etc\\hosts") ||
                hosts.ends_with(u"\\System32\\drivers\\etc\\hosts"))
        << std::string(hosts.begin(), hosts.end());
    Platform::Paths::OverrideHostsFilePath(u"C:\\elsewhere\\hosts");
    EXPECT_EQ(Platform::Paths::HostsFilePath(), u"C:\\elsewhere\\hosts");
    Platform::Paths::OverrideHostsFilePath(u"");
    EXPECT_EQ(Platform::Paths::HostsFilePath(), hosts);

    std::string id;
    EXPECT_TRUE(Platform::MachineFacts::ReadMachineId(id));
    EXPECT_EQ(id.size(), 36u) << id;  // a GUID with dashes
    // The value exactly as the registry holds it.
    char stored[255] = {};
    DWORD storedSize = sizeof stored;
    ASSERT_EQ(RegGetValueA(HKEY_LOCAL_MACHINE, "SOFTWARE\\Microsoft\\Cryptography", "MachineGuid",
                           RRF_RT_ANY, nullptr, stored, &storedSize),
              ERROR_SUCCESS);
    EXPECT_EQ(id, std::string(stored));
    // The volume piece is the GUID of C:\'s volume path, without braces or prefix.
    std::string volume = "stale";
    char volumePath[1024] = {};
    if (GetVolumeNameForVolumeMountPointA("C:\\", volumePath, sizeof volumePath - 1)) {
        ASSERT_TRUE(Platform::MachineFacts::ReadSystemVolumeId(volume));
        const std::string path = volumePath;
        const std::size_t open = path.find('{');
        ASSERT_NE(open, std::string::npos) << path;
        EXPECT_EQ(volume, path.substr(open + 1, path.find('}') - open - 1)) << path;
        EXPECT_EQ(volume.size(), 36u) << volume;
    } else {
        EXPECT_FALSE(Platform::MachineFacts::ReadSystemVolumeId(volume));
        EXPECT_TRUE(volume.empty());
        std::printf("note: this system gives C:\\ no volume path (error %lu)\n", GetLastError());
    }
    Platform::MachineFacts::CpuidLeaf0 leaf;
    EXPECT_TRUE(Platform::MachineFacts::ReadCpuidLeaf0(leaf));
    EXPECT_GT(leaf.eax, 0u);
    EXPECT_EQ(leaf.Vendor().size(), 12u);

    struct Digest {
        Platform::HashAlgorithm algorithm;
        const char* hex;
    };
    const Digest digests[] = {
        {Platform::HashAlgorithm::Md5, "900150983cd24fb0d6963f7d28e17f72"},
        {Platform::HashAlgorithm::Sha1, "a9993e364706816aba3e25717850c26c9cd0d89d"},
        {Platform::HashAlgorithm::Sha256,
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    };
    for (const Digest& row : digests) {
        const auto digest = Platform::ComputeHash(row.algorithm, "abc", 3);
        std::string hex;
        for (const std::uint8_t byte : digest) {
            static const char digitsText[] = "0123456789abcdef";
            hex += digitsText[byte >> 4];
            hex += digitsText[byte & 15];
        }
        EXPECT_EQ(hex, row.hex);
    }
    EXPECT_EQ(Platform::ComputeHash(Platform::HashAlgorithm::Sha1, nullptr, 0).size(), 20u);

    // The system's own text, and wininet.dll's for the Internet numbers.
    Platform::HttpSession session;  // loads wininet.dll
    ASSERT_TRUE(session.Open("test"));
    // Not found, access denied, and WinINet numbers.
    for (const int number : {2, 5, 12002, 12007, 12029}) {
        EXPECT_FALSE(Platform::SystemErrorText(number).empty()) << number;
    }
    // The system's texts as FormatMessage gives them, closing line break included.
    for (const int number : {2, 5}) {
        const std::string text = Platform::SystemErrorText(number);
        EXPECT_TRUE(text.ends_with("\r\n") || text.ends_with("\n")) << number << ": " << text;
    }
    // Output redirected to a file or pipe is no console: the text goes out without colour.
    Platform::WriteConsoleText(Platform::ConsoleStream::Out, "console text\n", 12);
}

TEST_F(Win32Backends, ShellStartsProgramsAndRefusesOtherAddresses) {
    EXPECT_FALSE(Platform::Shell::OpenWebPage(u"file:///C:/Windows/notepad.exe"));
    EXPECT_EQ(LastSystemError(), ERROR_INVALID_PARAMETER);
    EXPECT_FALSE(Platform::Shell::StartProgram(u"absent.exe", U16(folder_)));
    EXPECT_TRUE(Files::IsNotFoundError(LastSystemError()));

    // The demo setup program leaves setup-ran.txt next to itself; started by a relative
    // name from its folder, it must be found there and nowhere else.
    const fs::path built = fs::path(Platform::Paths::ExecutablePath()).parent_path().parent_path() /
                           L"Tools" / L"demo" / L"windows" / SORVAN_DEMO_SETUP_PROGRAM;
    ASSERT_TRUE(fs::exists(built)) << built.string();
    fs::copy_file(built, folder_ / L"Setup.exe");
    ASSERT_TRUE(Platform::Shell::StartProgram(u"Setup.exe", U16(folder_)));
    const auto deadline = std::chrono::steady_clock::now() + 30s;
    while (!fs::exists(folder_ / L"setup-ran.txt") && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_TRUE(fs::exists(folder_ / L"setup-ran.txt"));
    // Let the started program end before the folder is removed.
    std::this_thread::sleep_for(500ms);
}

// A plain HTTP server on loopback for one exchange: it answers any request with a reply
// that announces `announced` body bytes, sends `first` of them, waits until the test calls
// Release (10 s at most), sends `rest` more and closes the connection.
class OneReplyServer {
public:
    OneReplyServer(std::size_t announced, std::size_t first, std::size_t rest) {
        WSADATA data{};
        WSAStartup(MAKEWORD(2, 2), &data);
        listener_ = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        ::bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        ::listen(listener_, 1);
        int length = sizeof address;
        ::getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
        port_ = ntohs(address.sin_port);
        thread_ = std::thread([this, announced, first, rest] { Serve(announced, first, rest); });
    }
    ~OneReplyServer() {
        Release();
        thread_.join();
        ::closesocket(listener_);
        WSACleanup();
    }
    std::uint16_t Port() const { return port_; }
    void Release() { released_ = true; }

private:
    void Serve(std::size_t announced, std::size_t first, std::size_t rest) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(listener_, &readable);
        timeval wait{10, 0};
        if (::select(0, &readable, nullptr, nullptr, &wait) != 1) {
            return;
        }
        const SOCKET client = ::accept(listener_, nullptr, nullptr);
        std::string request;
        char piece[1024];
        while (request.find("\r\n\r\n") == std::string::npos) {
            const int got = ::recv(client, piece, sizeof piece, 0);
            if (got <= 0) {
                break;
            }
            request.append(piece, static_cast<std::size_t>(got));
        }
        const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(announced) +
                                 "\r\nConnection: close\r\n\r\n";
        const std::string body(first + rest, 'b');
        Send(client, head + body.substr(0, first));
        for (int i = 0; i < 1000 && !released_; ++i) {
            std::this_thread::sleep_for(10ms);
        }
        Send(client, body.substr(first));
        ::shutdown(client, SD_SEND);
        ::closesocket(client);
    }
    static void Send(SOCKET client, const std::string& bytes) {
        std::size_t sent = 0;
        while (sent < bytes.size()) {
            const int put =
                ::send(client, bytes.data() + sent, static_cast<int>(bytes.size() - sent), 0);
            if (put <= 0) {
                return;
            }
            sent += static_cast<std::size_t>(put);
        }
    }

    SOCKET listener_ = INVALID_SOCKET;
    std::uint16_t port_ = 0;
    std::atomic<bool> released_{false};
    std::thread thread_;
};

struct Exchange {
    Platform::HttpSession session;
    Platform::HttpConnection connection;
    Platform::HttpRequest request;
    explicit Exchange(std::uint16_t port) {
        EXPECT_TRUE(session.Open("test"));
        session.SetReceiveTimeout(20000);
        EXPECT_TRUE(connection.Open(session, "127.0.0.1", port));
        EXPECT_TRUE(request.Open(connection, "GET", "/file.bin", false));
        EXPECT_TRUE(request.Send("Accept: */*\r\n"));
    }
};

// CNG's SHA-256 in pieces and its ECDSA check, on a signature the openssl command line
// made (the same vector as the Linux test).
TEST(Win32Facts, Sha256InPiecesAndEcdsaSignatureCheck) {
    const std::string message = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    Platform::Sha256 hash;
    for (int round = 0; round < 2; ++round) {
        ASSERT_TRUE(hash.Update(message.data(), 7));
        ASSERT_TRUE(hash.Update(message.data() + 7, message.size() - 7));
        Platform::Sha256Digest digest{};
        ASSERT_TRUE(hash.Final(digest));
        std::string hex;
        for (const std::uint8_t byte : digest) {
            static const char digitsText[] = "0123456789abcdef";
            hex += digitsText[byte >> 4];
            hex += digitsText[byte & 15];
        }
        EXPECT_EQ(hex, "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    }
    const auto bytes = [](const std::string& hex) {
        std::vector<std::uint8_t> out;
        for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
            out.push_back(static_cast<std::uint8_t>(std::stoi(hex.substr(i, 2), nullptr, 16)));
        }
        return out;
    };
    const std::vector<std::uint8_t> key = bytes(
        "04517a7664f09011328aea33098d9d48edb3a6f5553012e724c33c2debaf36a84333e5f0a9d1b57cca13266c7d"
        "73b3588e15562a54946623067aeb4f811a1ad1c8");
    std::vector<std::uint8_t> signature = bytes(
        "a42f656c60c45b1b0df190da72a0c50f2ae699ef182655252b2b7291b4bcd025"
        "af3463bf329247bd99920d9a531bff61b05a63ff7510316c9fc99d29e686984b");
    const std::string signedText = "release Sorvan_9_5 version 3";
    const std::string otherText = "release Sorvan_9_5 version 4";
    EXPECT_TRUE(Platform::VerifyEcdsaP256Sha256(key.data(), key.size(), signedText.data(),
                                                signedText.size(), signature.data(),
                                                signature.size()));
    EXPECT_FALSE(Platform::VerifyEcdsaP256Sha256(key.data(), key.size(), otherText.data(),
                                                 otherText.size(), signature.data(),
                                                 signature.size()));
    EXPECT_FALSE(Platform::VerifyEcdsaP256Sha256(key.data(), key.size(), signedText.data(),
                                                 signedText.size(), signature.data(), 63));
    signature[63] ^= 1;
    EXPECT_FALSE(Platform::VerifyEcdsaP256Sha256(key.data(), key.size(), signedText.data(),
                                                 signedText.size(), signature.data(),
                                                 signature.size()));
}

TEST(Win32Http, ReplyCutBeforeItsLengthIsAnAbortNotAnEnd) {
    OneReplyServer server(1000, 300, 0);
    server.Release();
    Exchange exchange(server.Port());
    std::vector<char> buffer(64 * 1024);
    std::size_t total = 0;
    std::size_t got = 0;
    bool ok = true;
    while ((ok = exchange.request.Read(buffer.data(), buffer.size(), got)) && got > 0) {
        total += got;
    }
    EXPECT_FALSE(ok) << "a reply of " << total << " of 1000 bytes was taken as whole";
    EXPECT_EQ(exchange.request.LastError(), Platform::HttpError::ConnectionAborted);
    EXPECT_EQ(total, 300u);
}

TEST(Win32Http, ReadHandsOverWhatHasArrivedAndAWholeReplyEndsCleanly) {
    OneReplyServer server(1000, 300, 700);
    Exchange exchange(server.Port());
    std::vector<char> buffer(64 * 1024);
    std::size_t got = 0;
    // The server holds back the rest until the first bytes are in: a read that waited for
    // a full buffer would only come back when the server gives up after 10 s.
    ASSERT_TRUE(exchange.request.Read(buffer.data(), buffer.size(), got));
    EXPECT_GT(got, 0u);
    EXPECT_LE(got, 300u);
    std::size_t total = got;
    server.Release();
    bool ok = true;
    while ((ok = exchange.request.Read(buffer.data(), buffer.size(), got)) && got > 0) {
        total += got;
    }
    EXPECT_TRUE(ok) << exchange.request.LastError();
    EXPECT_EQ(total, 1000u);
}

// A read waiting on a server that holds the rest back ends on a cancel from the caller's
// check, on the request's own thread, and the request then refuses to go on.
TEST(Win32Http, ACancelEndsAReadThatWaitsOnTheServer) {
    OneReplyServer server(1000, 300, 700);
    std::atomic<bool> stop{false};
    Platform::HttpSession session;
    ASSERT_TRUE(session.Open("test"));
    // Shorter than the server's hold: a read the cancel cannot end fails with a time-out.
    session.SetReceiveTimeout(3000);
    session.SetCancelCheck([&stop] { return stop.load(); });
    Platform::HttpConnection connection;
    ASSERT_TRUE(connection.Open(session, "127.0.0.1", server.Port()));
    Platform::HttpRequest request;
    ASSERT_TRUE(request.Open(connection, "GET", "/file.bin", false));
    ASSERT_TRUE(request.Send("Accept: */*\r\n"));
    std::vector<char> buffer(64 * 1024);
    std::size_t got = 0;
    std::size_t total = 0;
    while (total < 300 && request.Read(buffer.data(), buffer.size(), got) && got > 0) {
        total += got;
    }
    ASSERT_EQ(total, 300u);
    std::thread canceller([&stop] {
        std::this_thread::sleep_for(200ms);
        stop = true;
    });
    // The server sends the rest only when released (or after 10 s): only the cancel can
    // end this read before the time-out, and it must not hand over bytes.
    EXPECT_FALSE(request.Read(buffer.data(), buffer.size(), got));
    EXPECT_EQ(got, 0u);
    EXPECT_EQ(request.LastError(), Platform::HttpError::OperationCancelled);
    canceller.join();
    EXPECT_FALSE(request.Read(buffer.data(), buffer.size(), got));
    EXPECT_EQ(request.LastError(), Platform::HttpError::OperationCancelled);
    server.Release();
}

}  // namespace
