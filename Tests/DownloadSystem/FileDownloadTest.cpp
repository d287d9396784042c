// Download worker against the in-process HTTPS server: attempts, CRC checks, cut connections,
// pause and resume, stop, certificate refusal, the memory cap, targets and folders.
#include "DownloadSystem/FileDownload.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "DownloadSystem/CRC.h"
#include "DownloadSystem/Connection.h"
#include "DownloadSystem/HttpVerb.h"
#include "DownloadSystem/ResumeRecord.h"
#include "FileSizeLimit.h"
#include "Servers/HttpsServer.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace {

using namespace std::chrono_literals;
using DownloadSystem::DownloadState;
using DownloadSystem::FileDownload;
using DownloadSystem::Testing::FileSizeLimit;
using TestServers::CertificateKind;
using TestServers::HttpsServer;
using TestServers::PatternByte;
using TestServers::Reply;
using vesk::StringUtils;

std::string PatternText(std::uint64_t size) {
    std::string text(size, '\0');
    for (std::uint64_t i = 0; i < size; ++i)
        text[i] = static_cast<char>(PatternByte(i));
    return text;
}

std::uint32_t CrcOf(const std::string& bytes) {
    return DownloadSystem::CRC().Compute(bytes.data(), static_cast<std::int32_t>(bytes.size()));
}

// Log entries whose message starts with `prefix` (and, when given, carry `number`).
std::size_t CountEntries(const std::string& prefix, std::optional<int> number = std::nullopt) {
    std::size_t count = 0;
    for (const auto& entry : vesk::GetLogEntries()) {
        const std::string message = entry.value("message", "");
        if (message.rfind(prefix, 0) == 0 && (!number || entry.value("error_number", 0) == *number))
            ++count;
    }
    return count;
}

struct Listener : DownloadSystem::IDownloadListener {
    std::atomic<int> finished{0};
    std::atomic<int> progress{0};
    void OnDownloadFinished(FileDownload*) override { ++finished; }
    void OnDownloadProgress(FileDownload*) override { ++progress; }
};

template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds limit = 10s) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(5ms);
    }
    return true;
}

// A program started from `file`: while it runs, the system refuses to open its file for
// writing (ETXTBSY), as Windows refuses a file another program holds.
class RunningProgram {
public:
    explicit RunningProgram(const std::filesystem::path& file) {
        std::filesystem::permissions(file, std::filesystem::perms::owner_all);
        const std::string path = file.string();
        char seconds[] = "30";
        char* const arguments[] = {const_cast<char*>(path.c_str()), seconds, nullptr};
        if (::posix_spawn(&pid_, path.c_str(), nullptr, nullptr, arguments, environ) != 0)
            pid_ = -1;
        // The file is held from the moment the program runs.
        held_ = pid_ > 0 && WaitUntil([&] {
                    const int descriptor = ::open(path.c_str(), O_WRONLY);
                    if (descriptor >= 0)
                        ::close(descriptor);
                    return descriptor < 0 && errno == ETXTBSY;
                });
    }
    ~RunningProgram() { End(); }
    bool HoldsItsFile() const { return held_; }
    void End() {
        if (pid_ <= 0)
            return;
        ::kill(pid_, SIGKILL);
        ::waitpid(pid_, nullptr, 0);
        pid_ = -1;
    }

private:
    pid_t pid_ = -1;
    bool held_ = false;
};

class FileDownloadTest : public ::testing::Test {
protected:
    void SetUp() override {
        vesk::ClearErrors();
        folder_ = std::filesystem::temp_directory_path() /
                  (std::string("sorvan-dl-") +
                   ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override {
        std::filesystem::remove_all(folder_);
        vesk::ClearErrors();
    }

    void Configure(FileDownload& worker, const std::string& path) {
        worker.SetServer(StringUtils::ToWide(server_.Address()));
        worker.SetRemotePath(StringUtils::ToWide(path));
        worker.SetListener(&listener_);
    }
    std::u16string Target(const std::string& name) const {
        return StringUtils::ToWide((folder_ / name).string());
    }
    std::string ReadFile(const std::string& name) const {
        std::ifstream in(folder_ / name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    void RunToFile(FileDownload& worker, const std::string& name) {
        ASSERT_TRUE(worker.StartToFile(Target(name)));
        ASSERT_EQ(worker.Wait(60000), vesk::Tavrin_Thread::WaitEnded);
    }

    HttpsServer server_;
    Listener listener_;
    std::filesystem::path folder_;
};

TEST_F(FileDownloadTest, NotFoundInMemoryIsTriedFourTimes) {
    FileDownload worker;
    Configure(worker, "/missing.txt");
    worker.DownloadToMemory();
    EXPECT_EQ(server_.RequestsTo("/missing.txt").size(), 4u);
    EXPECT_EQ(worker.GetState(), DownloadState::Finished);
    EXPECT_EQ(worker.GetErrorCode(), 404);
    EXPECT_TRUE(worker.GetData().Empty());
    EXPECT_EQ(CountEntries("Response status not 200, but 404 Response headers: HTTP/1.1 404",
                           vesk::ErrorNumber::ResponseStatusNot200),
              4u);
    EXPECT_EQ(listener_.finished, 1);
}

TEST_F(FileDownloadTest, ToFileSendsTheAgentAndSuffixAndChecksTheCrc) {
    const std::string content = PatternText(300000);
    server_.SetReply("/rel/file.bin", Reply::Pattern(content.size()));
    FileDownload worker;
    Configure(worker, "/rel/file.bin");
    worker.SetRemoteFile(u"?sig=abc");
    worker.SetExpectedCrc(CrcOf(content));
    RunToFile(worker, "file.bin");

    EXPECT_EQ(worker.GetState(), DownloadState::Finished);
    EXPECT_EQ(ReadFile("file.bin"), content);
    EXPECT_EQ(worker.GetBytesDone(), content.size());
    const auto requests = server_.RequestsTo("/rel/file.bin");
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].target, "/rel/file.bin?sig=abc");
    EXPECT_EQ(requests[0].Header("User-Agent"), "Sorvan Download Manager / 9.5");
    // At least one progress notification per full read piece.
    EXPECT_GE(listener_.progress, static_cast<int>(content.size() / FileDownload::ReadPieceSize));
    EXPECT_EQ(listener_.finished, 1);
}

TEST_F(FileDownloadTest, CrcThatNeverMatchesIsTriedFourTimes) {
    server_.SetReply("/f.bin", Reply::Pattern(5000));
    FileDownload worker;
    Configure(worker, "/f.bin");
    worker.SetExpectedCrc(0x12345678);
    RunToFile(worker, "f.bin");
    EXPECT_EQ(server_.RequestsTo("/f.bin").size(), 4u);
    EXPECT_EQ(worker.GetState(), DownloadState::Finished);
    // Each attempt recreated the file, so it holds one copy, not four.
    EXPECT_EQ(ReadFile("f.bin"), PatternText(5000));
    const std::string expected =
        "Download: " + (folder_ / "f.bin").string() +
        " incorrect CRC. Expected: 305419896 found: " +
        std::to_string(static_cast<std::int32_t>(CrcOf(PatternText(5000)))) +
        " bytes read: 5000Retrying download";
    EXPECT_EQ(CountEntries(expected, vesk::ErrorNumber::RetryingDownload), 4u);
}

TEST_F(FileDownloadTest, CutConnectionIsRetriedWithAndWithoutCrc) {
    const std::string content = PatternText(200000);
    Reply cut = Reply::Pattern(content.size());
    cut.dropAfter = 70000;
    for (const bool withCrc : {true, false}) {
        server_.ClearRequests();
        server_.SetReplies("/cut.bin", {cut, Reply::Pattern(content.size())});
        FileDownload worker;
        Configure(worker, "/cut.bin");
        worker.SetExpectedCrc(withCrc ? CrcOf(content) : 0);
        RunToFile(worker, "cut.bin");
        EXPECT_EQ(server_.RequestsTo("/cut.bin").size(), 2u) << withCrc;
        EXPECT_EQ(ReadFile("cut.bin"), content) << withCrc;
    }
    EXPECT_EQ(CountEntries("Error reading file, reconnecting."), 2u);
}

TEST_F(FileDownloadTest, PauseKeepsTheConnectionAndResumesAtTheSameByte) {
    const std::uint64_t size = 3 * 1024 * 1024;
    Reply slow = Reply::Pattern(size);
    slow.slowPiece = 32 * 1024;
    slow.slowPause = 15ms;
    server_.SetReply("/slow.bin", slow);
    FileDownload worker;
    Configure(worker, "/slow.bin");
    worker.SetExpectedCrc(CrcOf(PatternText(size)));
    ASSERT_TRUE(worker.StartToFile(Target("slow.bin")));
    ASSERT_TRUE(WaitUntil([&] { return worker.GetBytesDone() > 100000; }));

    EXPECT_TRUE(worker.TogglePause());
    std::this_thread::sleep_for(300ms);  // a read under way when pausing may still land
    const std::uint64_t held = worker.GetBytesDone();
    std::this_thread::sleep_for(400ms);
    EXPECT_EQ(worker.GetBytesDone(), held);
    EXPECT_LT(held, size);
    EXPECT_EQ(worker.GetState(), DownloadState::Downloading);

    EXPECT_FALSE(worker.TogglePause());
    ASSERT_EQ(worker.Wait(60000), vesk::Tavrin_Thread::WaitEnded);
    EXPECT_EQ(ReadFile("slow.bin"), PatternText(size));
    // One request and one connection: nothing was reopened or fetched again.
    EXPECT_EQ(server_.RequestsTo("/slow.bin").size(), 1u);
    EXPECT_EQ(server_.ConnectionCount(), 1u);
}

TEST_F(FileDownloadTest, StopDuringATransferEndsPromptly) {
    Reply endless;
    endless.endless = true;
    server_.SetReply("/endless", endless);
    for (const bool paused : {false, true}) {
        FileDownload worker;
        Configure(worker, "/endless");
        ASSERT_TRUE(worker.StartToFile(Target("endless.bin")));
        ASSERT_TRUE(WaitUntil([&] { return worker.GetBytesDone() > 0; }));
        if (paused)
            worker.TogglePause();
        const auto start = std::chrono::steady_clock::now();
        worker.Stop(vesk::Tavrin_Thread::Infinite);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, 1s) << "paused " << paused;
        EXPECT_EQ(worker.GetState(), DownloadState::Finished);
    }
}

TEST_F(FileDownloadTest, UnverifiedCertificateIsRefusedWithItsNumber) {
    HttpsServer stranger(CertificateKind::UnknownAuthority);
    FileDownload worker;
    worker.SetServer(StringUtils::ToWide(stranger.Address()));
    worker.SetRemotePath(u"/list.txt");
    worker.DownloadToMemory();
    EXPECT_TRUE(worker.GetData().Empty());
    EXPECT_EQ(stranger.Requests().size(), 0u);
    EXPECT_GE(stranger.HandshakeFailures(), 1u);
    EXPECT_EQ(CountEntries("Connection::HttpSendRequest failed for: ", 12045), 4u);
}

TEST_F(FileDownloadTest, EndlessBodyInMemoryStopsAtTheCap) {
    Reply endless;
    endless.endless = true;
    server_.SetReply("/endless", endless);
    FileDownload worker;
    Configure(worker, "/endless");
    worker.DownloadToMemory();
    EXPECT_EQ(worker.GetState(), DownloadState::Finished);
    EXPECT_TRUE(worker.GetData().Empty());
    EXPECT_EQ(server_.RequestsTo("/endless").size(), 1u);
    EXPECT_EQ(CountEntries("FileDownload: reply larger than " +
                           std::to_string(DownloadSystem::MaxReplyBytes)),
              1u);
}

TEST_F(FileDownloadTest, MemoryModeKeepsOrWritesTheData) {
    server_.SetReply("/list.txt", Reply::Text(200, "alpha\nbeta\n"));
    server_.SetReply("/empty.txt", Reply::Text(200, ""));

    FileDownload kept;
    Configure(kept, "/list.txt");
    kept.SetExpectedCrc(CrcOf("alpha\nbeta\n"));
    kept.DownloadToMemory();
    EXPECT_EQ(kept.GetData().AsText(), "alpha\nbeta\n");
    EXPECT_EQ(kept.GetBytesDone(), 0u);
    EXPECT_EQ(CountEntries("Checking CRC: 1"), 1u);

    // With a target the data lands in a new folder (one level) and the buffer is emptied;
    // Restart with empty text keeps that target and the memory mode.
    FileDownload written;
    Configure(written, "/list.txt");
    written.DownloadToMemory(Target("sub/list.txt"));
    EXPECT_EQ(written.GetState(), DownloadState::Finished);
    EXPECT_TRUE(written.GetData().Empty());
    EXPECT_EQ(ReadFile("sub/list.txt"), "alpha\nbeta\n");
    std::filesystem::remove(folder_ / "sub/list.txt");
    ASSERT_TRUE(written.Restart());
    written.Wait(vesk::Tavrin_Thread::Infinite);
    EXPECT_EQ(ReadFile("sub/list.txt"), "alpha\nbeta\n");
    EXPECT_EQ(server_.RequestsTo("/list.txt").size(), 3u);

    FileDownload empty;
    Configure(empty, "/empty.txt");
    empty.DownloadToMemory();
    EXPECT_EQ(server_.RequestsTo("/empty.txt").size(), 1u);
    FileDownload emptyWithCrc;
    Configure(emptyWithCrc, "/empty.txt");
    emptyWithCrc.SetExpectedCrc(5);
    emptyWithCrc.DownloadToMemory();
    EXPECT_EQ(server_.RequestsTo("/empty.txt").size(), 5u);
    EXPECT_EQ(CountEntries("Download:  incorrect CRC. Expected: 5 found: 0 bytes read: 0"), 4u);
}

TEST_F(FileDownloadTest, FolderIsCreatedOneLevelDeepOnly) {
    server_.SetReply("/a.bin", Reply::Text(200, "abc"));
    FileDownload worker;
    Configure(worker, "/a.bin");
    RunToFile(worker, "new/a.bin");
    EXPECT_EQ(ReadFile("new/a.bin"), "abc");

    FileDownload deep;
    Configure(deep, "/a.bin");
    RunToFile(deep, "x/y/a.bin");
    EXPECT_EQ(deep.GetState(), DownloadState::Idle);
    EXPECT_EQ(server_.RequestsTo("/a.bin").size(), 1u);
    const auto messages = vesk::GetErrorMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Unable to create directory: " + (folder_ / "x/y").string());
    EXPECT_EQ(listener_.finished, 1);
}

TEST_F(FileDownloadTest, ABodyLongerThanTheListedSizeFailsEachAttemptAtOnce) {
    const std::uint64_t listed = 100000;
    Reply longer = Reply::Pattern(3 * listed);  // a Content-Length that says so
    Reply endless;                              // no Content-Length, never ends
    endless.endless = true;
    Reply lying = Reply::Pattern(2 * listed);  // announces the listed size, sends more
    lying.headers = {{"Content-Length", std::to_string(listed)}};
    lying.closeAfter = true;
    struct Case {
        const char* name;
        Reply reply;
    };
    for (const Case& row :
         {Case{"longer", longer}, Case{"endless", endless}, Case{"lying length", lying}}) {
        vesk::ClearErrors();
        server_.ClearRequests();
        server_.SetReply("/long.bin", row.reply);
        FileDownload worker;
        Configure(worker, "/long.bin");
        worker.SetExpectedCrc(CrcOf(PatternText(listed)) ^ 1);
        worker.SetExpectedSize(listed);
        RunToFile(worker, "long.bin");
        EXPECT_FALSE(worker.Succeeded()) << row.name;
        EXPECT_EQ(server_.RequestsTo("/long.bin").size(), 4u) << row.name;
        EXPECT_LE(std::filesystem::file_size(folder_ / "long.bin"), listed) << row.name;
        EXPECT_EQ(CountEntries("Download: " + (folder_ / "long.bin").string() +
                               " is longer than its listed 100000 bytes; attempt stopped"),
                  row.reply.headers.empty() ? 4u : 0u)
            << row.name;
    }
    // A body of exactly the listed size is taken.
    server_.SetReply("/exact.bin", Reply::Pattern(listed));
    FileDownload exact;
    Configure(exact, "/exact.bin");
    exact.SetExpectedSize(listed);
    exact.SetExpectedCrc(CrcOf(PatternText(listed)));
    RunToFile(exact, "exact.bin");
    EXPECT_TRUE(exact.Succeeded());
    EXPECT_EQ(ReadFile("exact.bin"), PatternText(listed));
}

TEST_F(FileDownloadTest, AFailedWriteEndsTheRunWithOneEntryAndRemovesThePart) {
    // The file-size limit gives the same failed write as a full disk (EFBIG, not ENOSPC).
    server_.SetReply("/big.bin", Reply::Pattern(4 * 1024 * 1024));
    FileDownload worker;
    Configure(worker, "/big.bin");
    worker.SetExpectedCrc(CrcOf(PatternText(4 * 1024 * 1024)));
    std::vector<std::u16string> announced;
    worker.SetRemovalNotice([&](const std::u16string& path) { announced.push_back(path); });
    {
        FileSizeLimit limit(256 * 1024);
        ASSERT_TRUE(limit.Applied());
        RunToFile(worker, "big.bin");
    }

    EXPECT_EQ(worker.GetState(), DownloadState::WriteFailed);
    EXPECT_FALSE(worker.Succeeded());
    EXPECT_EQ(server_.RequestsTo("/big.bin").size(), 1u);
    const auto messages = vesk::GetErrorMessages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0], "Couldn't write part file");
    EXPECT_FALSE(std::filesystem::exists(folder_ / "big.bin"));
    EXPECT_EQ(listener_.finished, 1);
    EXPECT_EQ(worker.GetWriteFault(), Platform::FileFault::DiskFull);
    EXPECT_EQ(announced, std::vector<std::u16string>{Target("big.bin")});
}

// A part file held by a running program (as a setup still running holds its own file)
// costs an attempt; one that stays held ends the run as a write fault naming the cause.
TEST_F(FileDownloadTest, APartFileHeldByAnotherProgramCostsAnAttempt) {
    const std::string content = PatternText(100000);
    server_.SetReply("/held.bin", Reply::Pattern(content.size()));
    struct Case {
        const char* name;
        bool freedAfterFirstAttempt;
        bool succeeds;
        std::size_t requests;  // at least
    };
    const Case cases[] = {
        {"freed after the first attempt", true, true, 2},
        {"held throughout", false, false, FileDownload::MaxAttempts},
    };
    for (const Case& row : cases) {
        vesk::ClearErrors();
        server_.ClearRequests();
        const std::filesystem::path held = folder_ / "held.bin";
        std::filesystem::copy_file("/bin/sleep", held,
                                   std::filesystem::copy_options::overwrite_existing);
        RunningProgram holder(held);
        ASSERT_TRUE(holder.HoldsItsFile()) << row.name;

        FileDownload worker;
        Configure(worker, "/held.bin");
        worker.SetExpectedCrc(CrcOf(content));
        ASSERT_TRUE(worker.StartToFile(Target("held.bin")));
        if (row.freedAfterFirstAttempt) {
            ASSERT_TRUE(WaitUntil([] { return CountEntries("Couldn't create part file") > 0; }))
                << row.name;
            holder.End();
        }
        ASSERT_EQ(worker.Wait(60000), vesk::Tavrin_Thread::WaitEnded);
        holder.End();

        EXPECT_EQ(worker.Succeeded(), row.succeeds) << row.name;
        // Each attempt asks before it opens its file; the freed file opens on the next
        // attempt, or a later one on a slow machine.
        const std::size_t requests = server_.RequestsTo("/held.bin").size();
        EXPECT_GE(requests, row.requests) << row.name;
        EXPECT_LE(requests, row.succeeds ? FileDownload::MaxAttempts : row.requests) << row.name;
        if (row.succeeds) {
            EXPECT_EQ(ReadFile("held.bin"), content) << row.name;
            EXPECT_TRUE(vesk::GetErrorMessages().empty()) << row.name;
        } else {
            EXPECT_EQ(worker.GetState(), DownloadState::WriteFailed) << row.name;
            EXPECT_EQ(worker.GetWriteFault(), Platform::FileFault::InUse) << row.name;
            EXPECT_EQ(vesk::GetErrorMessages(),
                      std::vector<std::string>{"Couldn't create part file: " + held.string()})
                << row.name;
        }
    }
}

TEST_F(FileDownloadTest, ACutTransferGoesOnFromTheBytesOnDisk) {
    const std::uint64_t size = 200000;
    const std::string content = PatternText(size);
    Reply whole = Reply::Pattern(size);
    // Every range request asks for the rest of this very object.
    whole.headers = {{"ETag", "\"v1\""}};
    Reply cut = whole;
    cut.dropAfter = 70000;
    Reply ignoresRanges = whole;
    ignoresRanges.ranges = false;
    Reply otherRange = whole;  // 206, but for the whole object
    otherRange.ranges = false;
    otherRange.status = 206;
    otherRange.headers = {{"Content-Range", "bytes 0-199999/200000"}};
    Reply corruptRest = whole;
    corruptRest.corruptAt = {150000};
    Reply shortCut = whole;
    shortCut.dropAfter = 30000;
    Reply refused = Reply::Text(416, "");
    refused.ranges = false;
    // Refuses the second request: the part file is then changed while no attempt runs.
    Reply closed = whole;
    closed.closeWithoutReply = true;
    const std::filesystem::path part = folder_ / "r.bin";
    const auto rewrite = [&part] {
        std::ofstream(part, std::ios::binary | std::ios::trunc) << std::string(70000, 'x');
    };
    const auto truncate = [&part] { std::filesystem::resize_file(part, 1000); };
    const auto remove = [&part] { std::filesystem::remove(part); };
    struct Case {
        const char* name;
        std::vector<Reply> replies;
        // Per request: the offset its Range asked for, or -1 for none.
        std::vector<int> ranges;
        bool succeeds;
        // Runs when the second request arrives, before it is answered.
        std::function<void()> betweenAttempts = nullptr;
        bool checked = true;  // false: the expected CRC is 0, nothing to check against
    };
    const Case cases[] = {
        {"ranges honoured", {cut, whole}, {-1, 70000}, true},
        {"whole body instead", {cut, ignoresRanges}, {-1, 70000}, true},
        {"other range starts over", {cut, otherRange, whole}, {-1, 70000, -1}, true},
        {"refused range starts over", {cut, refused, whole}, {-1, 70000, -1}, true},
        {"crc failure after resume starts over", {cut, corruptRest, whole}, {-1, 70000, -1}, true},
        {"cut every time keeps four attempts", {shortCut}, {-1, 30000, 60000, 90000}, false},
        {"no crc: ranges honoured", {cut, whole}, {-1, 70000}, true, nullptr, false},
        {"part rewritten at the same size starts over",
         {cut, closed, whole},
         {-1, 70000, -1},
         true,
         rewrite},
        {"no crc: part rewritten at the same size starts over",
         {cut, closed, whole},
         {-1, 70000, -1},
         true,
         rewrite,
         false},
        {"part truncated starts over", {cut, closed, whole}, {-1, 70000, -1}, true, truncate},
        {"part deleted starts over", {cut, closed, whole}, {-1, 70000, -1}, true, remove},
    };
    for (const Case& row : cases) {
        vesk::ClearErrors();
        server_.ClearRequests();
        std::atomic<std::size_t> served{0};
        server_.SetHandler("/r.bin", [&row, &served](const TestServers::RecordedRequest&) {
            const std::size_t n = served++;
            if (n == 1 && row.betweenAttempts) {
                row.betweenAttempts();
            }
            return row.replies[std::min(n, row.replies.size() - 1)];
        });
        FileDownload worker;
        Configure(worker, "/r.bin");
        worker.SetExpectedCrc(row.checked ? CrcOf(content) : 0);
        worker.SetExpectedSize(size);
        RunToFile(worker, "r.bin");
        EXPECT_EQ(worker.Succeeded(), row.succeeds) << row.name;
        if (row.succeeds) {
            EXPECT_TRUE(ReadFile("r.bin") == content) << row.name;
        }
        const auto requests = server_.RequestsTo("/r.bin");
        EXPECT_EQ(requests.size(), row.ranges.size()) << row.name;
        for (std::size_t i = 0; i < std::min(requests.size(), row.ranges.size()); ++i) {
            const std::string expected =
                row.ranges[i] < 0 ? "" : "bytes=" + std::to_string(row.ranges[i]) + "-";
            EXPECT_EQ(requests[i].Header("Range"), expected) << row.name << " request " << i;
            EXPECT_EQ(requests[i].Header("If-Range"), row.ranges[i] < 0 ? "" : "\"v1\"")
                << row.name << " request " << i;
        }
        // An HTTP status is no system error number: its text would be some other fault's.
        for (const auto& entry : vesk::GetLogEntries()) {
            const int number = entry.value("error_number", 0);
            EXPECT_TRUE(number != 206 && number != 416) << row.name << ": " << entry.dump();
        }
    }
}

TEST_F(FileDownloadTest, ContentRangeMustContinueWhereTheFileStopped) {
    struct Case {
        const char* headers;
        std::uint64_t from;
        std::optional<std::uint64_t> total;
        bool continues;
    };
    const Case cases[] = {
        {"HTTP/1.1 206 Partial\r\nContent-Range: bytes 100-199/200\r\n", 100, 200, true},
        {"content-range:   bytes 100-199/200\r\n", 100, std::nullopt, true},
        {"Content-Range: bytes 100-199/200\r\n", 100, 300, false},  // another object
        {"Content-Range: bytes 0-199/200\r\n", 100, 200, false},    // from the start
        {"Content-Range: bytes 100-149/200\r\n", 100, 200, false},  // not to the end
        {"Content-Range: bytes 100-199/*\r\n", 100, 200, false},
        {"Content-Range: items 100-199/200\r\n", 100, 200, false},
        {"Content-Range: bytes 100-199/200x\r\n", 100, 200, false},
        {"Content-Length: 100\r\n", 100, 200, false},
        {"Content-Range: bytes 100-18446744073709551615/0\r\n", 100, std::nullopt, false},
    };
    for (const Case& row : cases) {
        EXPECT_EQ(DownloadSystem::ContentRangeContinuesAt(row.headers, row.from, row.total),
                  row.continues)
            << row.headers;
    }
}

TEST_F(FileDownloadTest, ReplyHeadersGiveTheValidatorAndTheWaitAsked) {
    const std::int64_t now = 784111777;  // Sun, 06 Nov 1994 08:49:37 GMT
    const struct {
        std::string headers;
        std::string validator;
        std::optional<std::uint64_t> retryAfter;
    } rows[] = {
        {"ETag: \"abc\"\r\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n", "\"abc\"", {}},
        {"etag: W/\"abc\"\r\nLast-Modified: Sun, 06 Nov 1994 08:49:37 GMT\r\n",
         "Sun, 06 Nov 1994 08:49:37 GMT",
         {}},
        {"ETag: abc\r\n", "", {}},  // unquoted: not a strong tag
        {"Last-Modified: Sunday, 06-Nov-94 08:49:37 GMT\r\n", "", {}},
        {"ETag: \"a\x01b\"\r\n", "", {}},  // never sent back as it is
        {"Retry-After: 120\r\n", "", 120},
        {"retry-after:  7 \r\n", "", 7},
        {"Retry-After: Sun, 06 Nov 1994 08:50:37 GMT\r\n", "", 60},
        {"Retry-After: Sun, 06 Nov 1994 08:48:37 GMT\r\n", "", 0},  // a date past
        {"Retry-After: Sun, 06 Nov 1994 25:48:37 GMT\r\n", "", {}},
        {"Retry-After: -5\r\n", "", {}},
        {"Retry-After: 5s\r\n", "", {}},
        {"Retry-After: 99999999999999999999999\r\n", "", {}},
        {"Retry-After:\r\n", "", {}},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(DownloadSystem::ObjectValidator(row.headers), row.validator) << row.headers;
        EXPECT_EQ(DownloadSystem::RetryAfterSeconds(row.headers, now), row.retryAfter)
            << row.headers;
    }
}

TEST_F(FileDownloadTest, ARefusingServerIsAskedAgainOnlyAfterTheWaitItNames) {
    Reply busy = Reply::Text(503, "busy");
    busy.headers = {{"Retry-After", "1"}};
    server_.SetReplies("/list.txt", {busy, Reply::Text(200, "list")});
    FileDownload worker;
    Configure(worker, "/list.txt");
    const auto start = std::chrono::steady_clock::now();
    worker.DownloadToMemory();
    EXPECT_GE(std::chrono::steady_clock::now() - start, 1s);
    EXPECT_TRUE(worker.Succeeded());
    EXPECT_EQ(server_.RequestsTo("/list.txt").size(), 2u);

    // A wait of an hour is bounded, and a stop ends it at once.
    busy.headers = {{"Retry-After", "3600"}};
    server_.SetReply("/wait.bin", busy);
    FileDownload waiting;
    Configure(waiting, "/wait.bin");
    ASSERT_TRUE(waiting.StartToFile(Target("wait.bin")));
    const std::string waitText =
        "FileDownload: the server asks to wait 30 s before the next attempt";
    ASSERT_TRUE(WaitUntil([&] { return CountEntries(waitText) == 1; }));
    const auto stopAt = std::chrono::steady_clock::now();
    waiting.Stop(vesk::Tavrin_Thread::Infinite);
    EXPECT_LT(std::chrono::steady_clock::now() - stopAt, 5s);
    EXPECT_EQ(server_.RequestsTo("/wait.bin").size(), 1u);
}

TEST_F(FileDownloadTest, AResumeRecordReadsOnlyWhole) {
    using DownloadSystem::ResumeRecord;
    const ResumeRecord record{u"/files/a b.bin", 5000, 0x89abcdef, 4000, 77, "\"v1\""};
    const std::string text = record.Format();
    const auto read = ResumeRecord::Parse(text);
    ASSERT_TRUE(read);
    EXPECT_EQ(read->remotePath, record.remotePath);
    EXPECT_EQ(read->Format(), text);

    std::string edited = text;
    edited[edited.find("good=4000") + 5] = '3';
    ResumeRecord tooMuch = record;
    tooMuch.goodBytes = 6000;
    const std::vector<std::string> damaged = {text.substr(0, text.size() - 1),
                                              text.substr(0, text.size() / 2),
                                              edited,
                                              tooMuch.Format(),
                                              text + "more\n",
                                              std::string(),
                                              "check=0\n"};
    for (const std::string& bad : damaged) {
        EXPECT_FALSE(ResumeRecord::Parse(bad)) << bad;
    }
}

TEST_F(FileDownloadTest, ALaterRunGoesOnWhereAnEarlierOneWasStopped) {
    using DownloadSystem::ResumeRecord;
    const std::uint64_t size = 3 * FileDownload::ResumeRecordEvery;
    const std::string content = PatternText(size);
    Reply slow = Reply::Pattern(size);
    slow.headers = {{"ETag", "\"v1\""}};
    slow.slowPiece = 1024 * 1024;
    // Slow enough that the stop lands well before the end, even on a loaded machine.
    slow.slowPause = 50ms;
    Reply quick = Reply::Pattern(size);
    quick.headers = slow.headers;
    const std::filesystem::path part = folder_ / "big.bin";
    const std::filesystem::path record = part.string() + ".resume";
    const auto appendJunk = [&part] {  // bytes written after the last record, then a kill
        std::ofstream(part, std::ios::binary | std::ios::app) << std::string(5000, 'j');
    };
    const auto damageRecord = [&record] {
        std::fstream file(record, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(30);
        file.put('#');
    };
    const auto shortenFile = [&part] { std::filesystem::resize_file(part, 1000); };
    const struct {
        const char* name;
        std::function<void()> betweenRuns;
        std::uint32_t listedCrc;  // 0: the file's own
        bool resumes;
    } rows[] = {
        {"stopped", nullptr, 0, true},
        {"killed after more bytes were written", appendJunk, 0, true},
        {"damaged record", damageRecord, 0, false},
        {"file shorter than its record", shortenFile, 0, false},
        {"another listed file", nullptr, 0x1234, false},
    };
    for (const auto& row : rows) {
        std::filesystem::remove(part);
        std::filesystem::remove(record);
        server_.SetReply("/big.bin", slow);
        {
            FileDownload first;
            Configure(first, "/big.bin");
            first.SetExpectedCrc(CrcOf(content));
            first.SetExpectedSize(size);
            ASSERT_TRUE(first.StartToFile(Target("big.bin")));
            ASSERT_TRUE(
                WaitUntil([&] { return first.GetBytesDone() > FileDownload::ResumeRecordEvery; }));
            first.Stop(vesk::Tavrin_Thread::Infinite);
        }
        ASSERT_TRUE(std::filesystem::exists(record)) << row.name;
        const auto kept = ResumeRecord::Parse(ReadFile("big.bin.resume"));
        ASSERT_TRUE(kept) << row.name;
        EXPECT_GT(kept->goodBytes, FileDownload::ResumeRecordEvery) << row.name;
        EXPECT_EQ(kept->goodBytes, std::filesystem::file_size(part)) << row.name;
        if (row.betweenRuns)
            row.betweenRuns();

        server_.ClearRequests();
        server_.SetReply("/big.bin", quick);
        FileDownload second;
        Configure(second, "/big.bin");
        const std::uint32_t listed = row.listedCrc != 0 ? row.listedCrc : CrcOf(content);
        second.SetExpectedCrc(listed);
        second.SetExpectedSize(size);
        RunToFile(second, "big.bin");
        const auto requests = server_.RequestsTo("/big.bin");
        ASSERT_FALSE(requests.empty()) << row.name;
        EXPECT_EQ(requests[0].Header("Range"),
                  row.resumes ? "bytes=" + std::to_string(kept->goodBytes) + "-" : "")
            << row.name;
        EXPECT_EQ(requests[0].Header("If-Range"), row.resumes ? "\"v1\"" : "") << row.name;
        if (row.listedCrc == 0) {
            EXPECT_TRUE(second.Succeeded()) << row.name;
            EXPECT_TRUE(ReadFile("big.bin") == content) << row.name;
            EXPECT_FALSE(std::filesystem::exists(record)) << row.name;
        }
    }
}

TEST_F(FileDownloadTest, ACutBodyInMemoryLeavesNoData) {
    Reply cut = Reply::Text(200, "a\r\n1\r\n0;b\r\n2\r\n0;c\r\n3\r\n0;");
    cut.dropAfter = 12;
    server_.SetReply("/list.txt", cut);
    FileDownload worker;
    Configure(worker, "/list.txt");
    worker.DownloadToMemory();
    EXPECT_EQ(server_.RequestsTo("/list.txt").size(), 4u);
    EXPECT_FALSE(worker.Succeeded());
    EXPECT_TRUE(worker.GetData().Empty());

    server_.SetReply("/list.txt", Reply::Text(200, "a\r\n1\r\n0;"));
    worker.DownloadToMemory();
    EXPECT_TRUE(worker.Succeeded());
    EXPECT_EQ(worker.GetData().AsText(), "a\r\n1\r\n0;");
}

TEST_F(FileDownloadTest, TheCancelCheckEndsAFetchUnderWay) {
    Reply silent;
    silent.silent = true;
    server_.SetReply("/silent", silent);
    std::atomic<bool> cancelled{false};
    FileDownload worker;
    Configure(worker, "/silent");
    worker.SetCancelCheck([&] { return cancelled.load(); });
    std::atomic<bool> returned{false};
    std::thread caller([&] {
        worker.DownloadToMemory();
        returned = true;
    });
    ASSERT_TRUE(server_.WaitForRequests(1, 10s));
    cancelled = true;
    // The receive time-out is minutes; the cancel check ends the wait within a poll.
    EXPECT_TRUE(WaitUntil([&] { return returned.load(); }, 10s));
    caller.join();
    EXPECT_FALSE(worker.Succeeded());
    EXPECT_EQ(server_.RequestsTo("/silent").size(), 1u);
}

}  // namespace
