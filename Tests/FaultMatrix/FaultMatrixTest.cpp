// The fault matrix: each row is a phase that talks to a server, the way that server fails,
// and what the user is left with: the screen reached and its text, whether setup started,
// the release files on disk, the pictures shown, how many requests the server saw and how
// long it took, and where a case needs them the log entry written, the release files
// fetched and what the user was told and shown. Adding a case means adding a row.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <sstream>
#include <thread>

#include "Configuration.h"
#include "DownloadSystem/DownloadManager.h"
#include "DownloadSystem/RequestTimeouts.h"
#include "EngineFixture.h"
#include "Interface/DownloadManagerInterface.h"
#include "Interface/ImageDecoder.h"
#include "Interface/InterfaceAssets.h"
#include "Interface/SplashScreen.h"
#include "Interface/Texture.h"

namespace DownloadSystem::Testing {
namespace {

using TestServers::CertificateKind;
using TestServers::HttpsServer;
using TestServers::Reply;

enum class Phase { Manifest, List, File, Description, Image, LogReport };
enum class Fault {
    Refused,
    ResetMidBody,
    StallBeforeHeaders,
    StallAfterHeaders,
    NotFound,
    ServerError,
    Unavailable,
    ShortWithLength,
    ShortWithoutLength,
    Longer,
    Endless,
    Corrupted,
    WrongName,
    Expired,
    UnknownAuthority,
    ErrorInfo,          // manifest: an error text instead of the release
    ErrorInfoNumber,    // manifest: an error member that is not a text
    ChangesEveryFetch,  // every answer differs from the one before
    CutAtEntryEnd,      // cut right after the first entry, so two fetches agree
};
// Whether the server fails every request of the phase, only the first, or the four
// attempts of the first fetch.
enum class Times { Always, Once, FirstFetch };
enum class Screen {
    RequestFailed,  // the manifest could not be had
    DownloadError,  // the download ended with errors to show
    Closed,         // the download ended without errors: the window closes
    SplashEnds,     // picture phases: the flow goes on, with the pictures that came
    ExitEnds,       // log report: Exit returns
};

// The window's screen in the matrix's terms; a screen still under way is no outcome.
Screen MatrixScreen(vesk::WindowScreen shown) {
    switch (shown) {
        case vesk::WindowScreen::RequestFailed:
            return Screen::RequestFailed;
        case vesk::WindowScreen::DownloadError:
            return Screen::DownloadError;
        case vesk::WindowScreen::Closed:
            return Screen::Closed;
        case vesk::WindowScreen::Splash:
        case vesk::WindowScreen::Progress:
            break;
    }
    ADD_FAILURE() << "the window still shows the splash or the progress screen";
    return Screen::ExitEnds;
}
enum class Disk {
    Untouched,       // no release file written
    Complete,        // every release file as published
    DataIncomplete,  // the setup program complete; the data file absent or short, never whole
    Empty,           // nothing at all in the download folder
    Any,
};

struct Row {
    Phase phase;
    Fault fault;
    Times times;
    Screen screen;
    const char* text;  // part of what the screen shows (or the pictures' reports); "" for any
    bool setupStarted;
    Disk disk;
    int pictures;  // picture phases: pictures shown
    // Requests (and refused handshakes) the phase's server saw; -1: not counted. An attempt
    // on a pooled connection the server had just cut never reaches it, hence the ranges.
    int minRequests;
    int maxRequests;
    int maxSeconds;       // with every time-out capped at TimeoutCap
    const char* pending;  // non-null: sound outcome not reached yet on this branch
    // Further checks, for the rows that need them.
    const char* logged = nullptr;  // a log entry (notes included) whose message holds this
    int fileRequests = -1;  // requests for release files besides the faulty one; -1: not counted
    const char* userMessage = nullptr;  // the user message, whole
    bool opensSupportPage = false;      // the support article is opened, and nothing else
};

// Long enough that a loopback exchange under a sanitizer never runs into it.
constexpr std::uint32_t TimeoutCapMs = 2500;
constexpr char DataName[] = "Data-1a.bin";
constexpr std::uint64_t DataSize = 64 * 1024;
constexpr char MetaPath[] = "/downloadmanager/9.5/meta.json";
constexpr const char* ImagePaths[] = {"/img/logo.png", "/img/a.png"};

// The request-failed screen's text, whole.
const std::string ConnectionText = "There is a problem with the connection.\r\nRead " +
                                   vesk::StringUtils::ToNarrow(Configuration::ConnectionFaqPage) +
                                   " for solutions.";
const char* const Connection = ConnectionText.c_str();
constexpr char MaxAttempts[] = "Maximum download attempts exceeded";
constexpr char MaxAttemptsWhole[] =
    "Maximum download attempts exceeded. If there are no network or file errors, it could be "
    "that the files are removed from disk after writing";
constexpr char NoLongerOffered[] =
    "This version of Sorvan can no longer be downloaded.\r\nPlease download the latest version "
    "you received in an e-mail message";
constexpr char ChangedEveryFetch[] = "changed on every fetch";
constexpr char ListIncomplete[] = "the file list Sorvan_9_4.txt could not be fetched completely";
constexpr char SupportDirected[] =
    "Downloading setup failed. You are now directed to our Support Center for help.";
// A list that never agrees is given up after this many pairs of fetches.
constexpr int ListFetches = 2 * DownloadManager::MaxListFetchRounds;
constexpr char BadJson[] = "json failed to read";
constexpr char NoJson[] = "json from server failed";
constexpr char NoTexture[] = "failed to download texture";

// Pending mends (named in the rows that wait for them).
constexpr char CutList[] = "a cut list is taken as read to its end";
constexpr char BoundedBody[] = "a body past the listed size is written without bound";
constexpr char ImageDeadline[] = "the picture phase has no overall deadline";
constexpr char CutReply[] =
    "a service reply not read to its end (cut, stalled, over the cap) is read as the manifest";

using F = Fault;
using P = Phase;
using S = Screen;
using T = Times;
using D = Disk;

// clang-format off
const Row Rows[] = {
    // phase       fault                  times    screen            text             setup  disk               pics req      s   pending
    {P::Manifest, F::Refused,            T::Always, S::RequestFailed, Connection,      false, D::Untouched,      0, -1, -1,   20, nullptr},
    {P::Manifest, F::ResetMidBody,       T::Always, S::RequestFailed, Connection,      false, D::Untouched,      0,  1,  3,   20, nullptr},
    {P::Manifest, F::StallBeforeHeaders, T::Always, S::RequestFailed, Connection,      false, D::Untouched,      0,  3,  3,   20, nullptr},
    {P::Manifest, F::StallAfterHeaders,  T::Always, S::RequestFailed, Connection,      false, D::Untouched,      0,  1,  3,   20, nullptr},
    {P::Manifest, F::NotFound,           T::Always, S::RequestFailed, Connection,      false, D::Untouched,      0,  1,  1,   20, nullptr},
    {P::Manifest, F::ServerError,        T::Always, S::RequestFailed, Connection,      false, D::Untouched,      0,  1,  1,   20, nullptr},
    {P::Manifest, F::Unavailable,        T::Always, S::RequestFailed, Connection,      false, D::Untouched,      0,  1,  1,   20, nullptr},
    {P::Manifest, F::ShortWithLength,    T::Always, S::RequestFailed, Connection,      false, D::Untouched,      0,  1,  3,   20, nullptr},
    // A reply without a length cut without TLS's close_notify is a cut, as one with a length.
    {P::Manifest, F::ShortWithoutLength, T::Always, S::RequestFailed, Connection,      false, D::Untouched,      0,  1,  3,   20, nullptr},
    // With a byte changed the reply is not JSON: a manifest without members, whose download
    // then ends through the attempt limit.
    {P::Manifest, F::Endless,            T::Always, S::RequestFailed, Connection,      false, D::Untouched,      0,  1,  3,   30, nullptr},
    {P::Manifest, F::Corrupted,          T::Always, S::DownloadError, MaxAttempts,     false, D::Untouched,      0,  1,  1,   40, nullptr},
    {P::Manifest, F::WrongName,          T::Always, S::RequestFailed, Connection,      false, D::Untouched,      0,  0,  3,   20, nullptr},
    {P::Manifest, F::Expired,            T::Always, S::RequestFailed, Connection,      false, D::Untouched,      0,  1,  3,   20, nullptr},
    {P::Manifest, F::UnknownAuthority,   T::Always, S::RequestFailed, Connection,      false, D::Untouched,      0,  1,  3,   20, nullptr},
    {P::Manifest, F::ErrorInfo,          T::Always, S::RequestFailed, Connection,      false, D::Untouched,      0,  1,  1,   20, nullptr},
    // Only a text counts as an error: the rest is a manifest without members, as above.
    {P::Manifest, F::ErrorInfoNumber,    T::Always, S::DownloadError, MaxAttempts,     false, D::Untouched,      0,  1,  1,   40, nullptr},

    // A list host that keeps failing costs every pass its list fetches, 128 requests in all:
    // the slow rows, bounded by the seed's attempt counts.
    {P::List,     F::ResetMidBody,       T::Always, S::DownloadError, "",              false, D::Untouched,      0,  2, 128, 180, nullptr},
    {P::List,     F::StallBeforeHeaders, T::Once,   S::Closed,        "",              true,  D::Complete,       0,  3, 12,   30, nullptr},
    {P::List,     F::StallAfterHeaders,  T::Once,   S::Closed,        "",              true,  D::Complete,       0,  3, 12,   30, nullptr},
    {P::List,     F::NotFound,           T::Always, S::DownloadError, NoLongerOffered, false, D::Untouched,      0,  1,  4,   20, nullptr, nullptr, 0},
    {P::List,     F::ServerError,        T::Once,   S::DownloadError, "500",           true,  D::Complete,       0,  3, 12,   30, nullptr},
    // Recovered, setup started, and the error screen shows what happened on the way.
    {P::List,     F::Unavailable,        T::Once,   S::DownloadError, "503",           true,  D::Complete,       0,  3, 12,   30, nullptr},
    {P::List,     F::ShortWithLength,    T::Always, S::DownloadError, "",              false, D::Untouched,      0,  2, 128, 180, nullptr},
    {P::List,     F::ShortWithoutLength, T::Always, S::DownloadError, "",              false, D::Untouched,      0,  2, 128, 180, nullptr},
    {P::List,     F::Endless,            T::Always, S::DownloadError, "",              false, D::Untouched,      0,  2, 128,  40, nullptr},
    {P::List,     F::Corrupted,          T::Always, S::DownloadError, "",              false, D::Any,            0,  2, 128, 180, nullptr},
    {P::List,     F::UnknownAuthority,   T::Always, S::DownloadError, MaxAttempts,     false, D::Untouched,      0,  2, 128, 180, nullptr},
    {P::List,     F::ChangesEveryFetch,  T::Always, S::DownloadError, ChangedEveryFetch, false, D::Untouched,    0, ListFetches, ListFetches, 60, nullptr, nullptr, 0},
    // Two fetches cut at the same entry's end would agree: a cut list still costs the pass,
    // each pass one fetch of four attempts, and nothing is fetched or started.
    {P::List,     F::CutAtEntryEnd,      T::Always, S::DownloadError, MaxAttempts,     false, D::Empty,          0, 32, 32,   60, nullptr, ListIncomplete, 0},
    // A fetch that failed and was retried is a note in the log, not an error to show.
    {P::List,     F::CutAtEntryEnd,      T::FirstFetch, S::Closed,    "",              true,  D::Complete,       0, -1, -1,   60, nullptr, ListIncomplete},

    {P::File,     F::ResetMidBody,       T::Once,   S::Closed,        "",              true,  D::Complete,       0,  2,  2,   30, nullptr},
    {P::File,     F::ResetMidBody,       T::Always, S::DownloadError, MaxAttempts,     false, D::DataIncomplete, 0, 24, 32, 120, nullptr},
    {P::File,     F::StallBeforeHeaders, T::Once,   S::Closed,        "",              true,  D::Complete,       0,  2,  2,   30, nullptr},
    {P::File,     F::StallAfterHeaders,  T::Once,   S::Closed,        "",              true,  D::Complete,       0,  2,  2,   30, nullptr},
    {P::File,     F::NotFound,           T::Always, S::DownloadError, MaxAttempts,     false, D::DataIncomplete, 0, 24, 32, 120, nullptr},
    {P::File,     F::ServerError,        T::Once,   S::DownloadError, "500",           true,  D::Complete,       0,  2,  2,   30, nullptr},
    {P::File,     F::Unavailable,        T::Always, S::DownloadError, MaxAttempts,     false, D::DataIncomplete, 0, 24, 32, 120, nullptr},
    {P::File,     F::ShortWithLength,    T::Always, S::DownloadError, MaxAttempts,     false, D::DataIncomplete, 0, 24, 32, 120, nullptr},
    {P::File,     F::ShortWithoutLength, T::Always, S::DownloadError, MaxAttempts,     false, D::DataIncomplete, 0, 24, 32, 120, nullptr},
    // The file never grows past its listed size; the client ends each attempt itself, so
    // every one of the eight passes' four attempts reaches the server.
    {P::File,     F::Longer,             T::Always, S::DownloadError, MaxAttempts,     false, D::DataIncomplete, 0, 32, 32, 120, nullptr},
    {P::File,     F::Endless,            T::Always, S::DownloadError, MaxAttempts,     false, D::DataIncomplete, 0, 32, 32, 120, nullptr},
    {P::File,     F::Corrupted,          T::Once,   S::Closed,        "",              true,  D::Complete,       0,  2,  2,   30, nullptr},
    // Never verifies: eight passes of four attempts, then the user is sent to the support article.
    {P::File,     F::Corrupted,          T::Always, S::DownloadError, MaxAttemptsWhole, false, D::DataIncomplete, 0, 32, 32, 120, nullptr, nullptr, -1, SupportDirected, true},

    // The pictures: whatever fails, the splash ends within a few seconds. A picture still
    // failing when its deadline passed is only logged (an endless one may still be running
    // then on a slow machine, so its row accepts either).
    {P::Description, F::Refused,            T::Always, S::SplashEnds, "",        false, D::Any, 0, -1, -1, 12, nullptr},
    {P::Description, F::ResetMidBody,       T::Always, S::SplashEnds, "",        false, D::Any, 0,  1,  4, 12, nullptr},
    {P::Description, F::StallBeforeHeaders, T::Always, S::SplashEnds, "",        false, D::Any, 0,  1,  4, 12, nullptr},
    {P::Description, F::StallAfterHeaders,  T::Always, S::SplashEnds, "",        false, D::Any, 0,  1,  4, 12, nullptr},
    {P::Description, F::NotFound,           T::Always, S::SplashEnds, "",        false, D::Any, 0,  1,  4, 12, nullptr},
    {P::Description, F::ServerError,        T::Once,   S::SplashEnds, "",        false, D::Any, 2,  2,  2, 12, nullptr},
    {P::Description, F::ShortWithLength,    T::Always, S::SplashEnds, "",        false, D::Any, 0,  1,  4, 12, nullptr},
    {P::Description, F::ShortWithoutLength, T::Always, S::SplashEnds, "",        false, D::Any, 0,  1,  4, 12, nullptr},
    {P::Description, F::Longer,             T::Always, S::SplashEnds, BadJson,   false, D::Any, 0,  1,  1, 12, nullptr},
    {P::Description, F::Endless,            T::Always, S::SplashEnds, "",        false, D::Any, 0,  1,  4, 12, nullptr},
    {P::Description, F::Corrupted,          T::Always, S::SplashEnds, BadJson,   false, D::Any, 0,  1,  1, 12, nullptr},
    {P::Description, F::UnknownAuthority,   T::Always, S::SplashEnds, "",        false, D::Any, 0,  1,  4, 12, nullptr},

    {P::Image,    F::Refused,            T::Always, S::SplashEnds, "",          false, D::Any, 0, -1, -1, 12, nullptr},
    {P::Image,    F::ResetMidBody,       T::Once,   S::SplashEnds, "",          false, D::Any, 2,  2,  4, 12, nullptr},
    {P::Image,    F::StallBeforeHeaders, T::Always, S::SplashEnds, "",          false, D::Any, 0,  2,  8, 12, nullptr},
    {P::Image,    F::StallAfterHeaders,  T::Always, S::SplashEnds, "",          false, D::Any, 0,  2,  8, 12, nullptr},
    {P::Image,    F::NotFound,           T::Always, S::SplashEnds, "",          false, D::Any, 0,  2,  8, 12, nullptr},
    {P::Image,    F::ShortWithLength,    T::Always, S::SplashEnds, "",          false, D::Any, 0,  2,  8, 12, nullptr},
    {P::Image,    F::ShortWithoutLength, T::Always, S::SplashEnds, "",          false, D::Any, 0,  2,  8, 12, nullptr},
    {P::Image,    F::Longer,             T::Always, S::SplashEnds, "",          false, D::Any, 2,  2,  2, 12, nullptr},
    {P::Image,    F::Endless,            T::Always, S::SplashEnds, "",          false, D::Any, 0,  1,  8, 12, nullptr},
    {P::Image,    F::Corrupted,          T::Always, S::SplashEnds, "",          false, D::Any, 0,  2,  2, 12, nullptr},
    {P::Image,    F::Expired,            T::Always, S::SplashEnds, NoTexture,   false, D::Any, 0,  1,  8, 12, nullptr},

    // The log is on disk before anything is sent; the report then gives up in bounded time.
    {P::LogReport, F::Refused,            T::Always, S::ExitEnds,  "",          false, D::Any, 0, -1, -1, 15, nullptr},
    {P::LogReport, F::StallBeforeHeaders, T::Always, S::ExitEnds,  "",          false, D::Any, 0,  1,  3, 15, nullptr},
    {P::LogReport, F::StallAfterHeaders,  T::Always, S::ExitEnds,  "",          false, D::Any, 0,  1,  3, 15, nullptr},
    {P::LogReport, F::ResetMidBody,       T::Always, S::ExitEnds,  "",          false, D::Any, 0,  1,  3, 15, nullptr},
    {P::LogReport, F::Unavailable,        T::Always, S::ExitEnds,  "",          false, D::Any, 0,  1,  3, 15, nullptr},
    {P::LogReport, F::WrongName,          T::Always, S::ExitEnds,  "",          false, D::Any, 0,  0,  3, 15, nullptr},
};
// clang-format on

const char* Name(Phase phase) {
    static constexpr const char* Names[] = {"Manifest",    "List",  "File",
                                            "Description", "Image", "LogReport"};
    return Names[static_cast<int>(phase)];
}

const char* Name(Fault fault) {
    static constexpr const char* Names[] = {"Refused",
                                            "ResetMidBody",
                                            "StallBeforeHeaders",
                                            "StallAfterHeaders",
                                            "NotFound",
                                            "ServerError",
                                            "Unavailable",
                                            "ShortWithLength",
                                            "ShortWithoutLength",
                                            "Longer",
                                            "Endless",
                                            "Corrupted",
                                            "WrongName",
                                            "Expired",
                                            "UnknownAuthority",
                                            "ErrorInfo",
                                            "ErrorInfoNumber",
                                            "ChangesEveryFetch",
                                            "CutAtEntryEnd"};
    return Names[static_cast<int>(fault)];
}

const char* Name(Screen screen) {
    static constexpr const char* Names[] = {"RequestFailed", "DownloadError", "Closed",
                                            "SplashEnds", "ExitEnds"};
    return Names[static_cast<int>(screen)];
}

CertificateKind CertificateOf(Fault fault) {
    switch (fault) {
        case Fault::WrongName:
            return CertificateKind::WrongName;
        case Fault::Expired:
            return CertificateKind::Expired;
        case Fault::UnknownAuthority:
            return CertificateKind::UnknownAuthority;
        default:
            return CertificateKind::Valid;
    }
}

// The reply that carries the fault for content `body`. Refusal and certificates are the
// server's doing, so their reply is the good one.
Reply FaultyReply(Fault fault, const std::string& body) {
    Reply reply = Reply::Text(200, body);
    const std::uint64_t half = body.size() / 2;
    // A release file is cut early: resuming after each cut must still not complete it
    // within one pass's attempts.
    const std::uint64_t cut = body.size() > 4096 ? 1000 : half;
    switch (fault) {
        case Fault::ResetMidBody:
            reply.dropAfter = cut;
            reply.resetOnDrop = true;
            break;
        case Fault::StallBeforeHeaders:
            reply.silent = true;
            break;
        case Fault::StallAfterHeaders:
            // The headers and one byte, then nothing until the server stops.
            reply.slowPiece = 1;
            reply.slowPause = std::chrono::minutes(10);
            break;
        case Fault::NotFound:
            reply = Reply::Text(404, "not here");
            break;
        case Fault::ServerError:
            reply = Reply::Text(500, "broken");
            break;
        case Fault::Unavailable:
            reply = Reply::Text(503, "busy");
            break;
        case Fault::ShortWithLength:
            reply.dropAfter = cut;
            break;
        case Fault::ShortWithoutLength:
            reply.closeDelimited = true;
            reply.dropAfter = cut;
            break;
        case Fault::Longer:
            reply.body += body;
            break;
        case Fault::Endless:
            reply.endless = true;
            break;
        // The first byte: an inverted byte in a host name would send a lookup off this machine.
        case Fault::Corrupted:
            reply.corruptAt = {0, half};
            break;
        case Fault::ErrorInfo:
            reply = Reply::Text(200, "{\"error_info\": \"Release withdrawn\"}");
            break;
        case Fault::ErrorInfoNumber:
            reply = Reply::Text(200, "{\"error_info\": 5}");
            break;
        case Fault::CutAtEntryEnd:
            reply.dropAfter = body.find(';') != std::string::npos ? body.find(';') + 1 : half;
            break;
        default:
            break;
    }
    return reply;
}

// A 4 x 4 PNG.
const std::string Picture(
    "\x89\x50\x4e\x47\x0d\x0a\x1a\x0a\x00\x00\x00\x0d\x49\x48\x44\x52\x00\x00\x00\x04\x00\x00"
    "\x00\x04\x08\x06\x00\x00\x00\xa9\xf1\x9e\x7e\x00\x00\x00\x12\x49\x44\x41\x54\x78\x9c\x63"
    "\x38\x21\x27\xf7\x1f\x19\x33\x90\x2e\x00\x00\x41\xb8\x20\x31\xfb\x35\x7b\x66\x00\x00\x00"
    "\x00\x49\x45\x4e\x44\xae\x42\x60\x82",
    75);

struct Outcome {
    Screen screen = Screen::ExitEnds;
    std::string text;
    bool setupStarted = false;
    int pictures = 0;
    int requests = 0;
    int fileRequests = 0;
    double seconds = 0;
};

class FaultMatrixTest : public EngineFixture, public ::testing::WithParamInterface<Row> {
protected:
    void SetUp() override {
        EngineFixture::SetUp();
        TimeoutCapForTestsMs = TimeoutCapMs;
    }
    void TearDown() override {
        TimeoutCapForTestsMs = 0;
        if (faulty_) {
            faulty_->Stop();
        }
        EngineFixture::TearDown();
    }

    // The server of the phase under test, failing as the row says on `path`.
    HttpsServer& FaultyServer(const Row& row) {
        faulty_ = std::make_unique<HttpsServer>(CertificateOf(row.fault));
        if (row.fault == Fault::Refused) {
            faulty_->Stop();  // its port now refuses connections
        }
        return *faulty_;
    }

    void Serve(HttpsServer& server, const Row& row, const std::string& path,
               const std::string& body, bool faulty) {
        Reply good = Reply::Text(200, body);
        if (!faulty) {
            server.SetReply(path, good);
        } else if (row.fault == Fault::ChangesEveryFetch) {
            auto served = std::make_shared<std::atomic<int>>(0);
            server.SetHandler(path, [body, served](const TestServers::RecordedRequest&) {
                return Reply::Text(200,
                                   body + "Extra-" + std::to_string(++*served) + ".bin\r\n1\r\n0;");
            });
        } else if (row.times == Times::Once) {
            server.SetReplies(path, {FaultyReply(row.fault, body), good});
        } else if (row.times == Times::FirstFetch) {
            const Reply bad = FaultyReply(row.fault, body);
            server.SetReplies(path, {bad, bad, bad, bad, good});
        } else {
            server.SetReply(path, FaultyReply(row.fault, body));
        }
    }

    int FaultyRequests() const {
        int count = static_cast<int>(faulty_->HandshakeFailures());
        for (const std::string& path : faultyPaths_) {
            count += static_cast<int>(faulty_->RequestsTo(path).size());
        }
        return count;
    }

    static std::string ErrorText() {
        std::string text;
        for (const std::string& message : vesk::GetErrorMessages()) {
            text += message + "\n";
        }
        return text;
    }

    Outcome RunEngine(const Row& row);
    Outcome RunPictures(const Row& row);
    Outcome RunLogReport(const Row& row);
    void CheckDisk(Disk disk);

    std::unique_ptr<HttpsServer> faulty_;
    std::vector<std::string> faultyPaths_;
};

Outcome FaultMatrixTest::RunEngine(const Row& row) {
    AddSetupProgram();
    AddFile(DataName, PatternBytes(DataSize));
    HttpsServer& faulty = FaultyServer(row);
    if (row.phase == Phase::Manifest) {
        Endpoints::OverrideServiceHost(Wide(faulty.Address()));
        Serve(faulty, row, ServicePath, ManifestJson(content_.Address()), true);
        faultyPaths_ = {ServicePath};
    } else {
        // The faulty server is the content host: the list and every file.
        SetManifest(Reply::Text(200, ManifestJson(faulty.Address())));
        Serve(faulty, row, ListPath(), ListText(), row.phase == Phase::List);
        for (const auto& [name, bytes] : files_) {
            Serve(faulty, row, std::string("/") + Subdir + "/" + name, bytes,
                  row.phase == Phase::File && name == DataName);
        }
        faultyPaths_ = {row.phase == Phase::List ? ListPath()
                                                 : std::string("/") + Subdir + "/" + DataName};
    }

    Outcome outcome;
    const auto start = std::chrono::steady_clock::now();
    DownloadCore core;
    std::u16string error;
    const bool accepted = core.RequestDownload(error);
    if (!accepted) {
        outcome.text = vesk::StringUtils::ToNarrow(error);
    } else {
        if (row.phase == Phase::Manifest) {
            // Whatever the faulty reply held, none of it is taken as the release.
            EXPECT_TRUE(error.empty()) << vesk::StringUtils::ToNarrow(error);
            EXPECT_EQ(core.GetManager()->GetHostName(), u"");
        }
        core.StartDownload();
        const auto limit = start + std::chrono::seconds(row.maxSeconds + 30);
        while (!core.IsFinished() && std::chrono::steady_clock::now() < limit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
        EXPECT_TRUE(core.IsFinished()) << "the download did not end";
        outcome.text = ErrorText();
    }
    // The screen is the window's own choice after what the engine reported.
    outcome.screen = MatrixScreen(vesk::DownloadManagerInterface::ScreenAfter(
        {true, accepted, accepted && core.IsFinished(), vesk::GetErrorCount()}));
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.requests = FaultyRequests();
    const HttpsServer& fileHost = row.phase == Phase::Manifest ? content_ : faulty;
    for (const auto& [name, bytes] : files_) {
        const std::string path = std::string("/") + Subdir + "/" + name;
        if (std::find(faultyPaths_.begin(), faultyPaths_.end(), path) == faultyPaths_.end()) {
            outcome.fileRequests += static_cast<int>(fileHost.RequestsTo(path).size());
        }
    }
    outcome.setupStarted = row.setupStarted ? !WaitForFile(root_ / "setup-ran.txt").empty()
                                            : fs::exists(root_ / "setup-ran.txt");
    return outcome;
}

Outcome FaultMatrixTest::RunPictures(const Row& row) {
    HttpsServer& faulty = FaultyServer(row);
    HttpsServer& descriptionHost = row.phase == Phase::Description ? faulty : content_;
    HttpsServer& imageHost = row.phase == Phase::Image ? faulty : content_;
    const std::string description = "{\"core\":{\"logo_background\":\"" +
                                    imageHost.Url(ImagePaths[0]) + "\"},\"media\":{\"a\":\"" +
                                    imageHost.Url(ImagePaths[1]) + "?v=2\"}}";
    Serve(descriptionHost, row, MetaPath, description, row.phase == Phase::Description);
    for (const char* path : ImagePaths) {
        Serve(imageHost, row, path, Picture, row.phase == Phase::Image);
    }
    if (row.phase == Phase::Description) {
        faultyPaths_ = {MetaPath};
    } else {
        faultyPaths_ = {ImagePaths[0], ImagePaths[1]};
    }

    Outcome outcome;
    const auto start = std::chrono::steady_clock::now();
    vesk::InterfaceAssets assets;
    // As the window does: the asset thread fetches while the UI thread processes what
    // arrived, and gives the pictures up at their deadline.
    std::thread fetcher(
        [&] { vesk::FetchInterfaceAssets(assets, Wide(descriptionHost.Address()), u"9.5"); });
    const vesk::TextureLoader load = [](const std::string& key, const std::uint8_t* data,
                                        std::size_t size) -> std::shared_ptr<vesk::Texture> {
        if (!vesk::DecodeImage(data, size)) {
            return nullptr;
        }
        return std::make_shared<vesk::Texture>(key, "id-" + key);
    };
    while (!assets.Process(load)) {
        if (std::chrono::steady_clock::now() - start > vesk::InterfacePicturesDeadline) {
            assets.GiveUp();
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    fetcher.join();
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.screen = assets.Process(load) ? Screen::SplashEnds : Screen::ExitEnds;
    outcome.pictures = (assets.GetCoreTexture("logo_background") ? 1 : 0) +
                       static_cast<int>(assets.GetMediaTextures().size());
    outcome.text = ErrorText();
    outcome.requests = FaultyRequests();
    return outcome;
}

Outcome FaultMatrixTest::RunLogReport(const Row& row) {
    HttpsServer& faulty = FaultyServer(row);
    DownloadCore core;
    std::u16string error;
    EXPECT_TRUE(core.RequestDownload(error));
    VESK_REPORT_ERROR("FaultMatrixTest an error the report carries", 0);
    Endpoints::OverrideServiceHost(Wide(faulty.Address()));
    Serve(faulty, row, ServicePath, "received", true);
    faultyPaths_ = {ServicePath};

    Outcome outcome;
    const auto start = std::chrono::steady_clock::now();
    core.PostLogFile();
    outcome.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    outcome.screen = Screen::ExitEnds;
    outcome.text = ErrorText();
    outcome.requests = FaultyRequests();
    // The log is written before anything is sent, whatever the service does.
    EXPECT_NE(ReadFile(programFolder_ / "logfile.txt").find("an error the report carries"),
              std::string::npos);
    return outcome;
}

void FaultMatrixTest::CheckDisk(Disk disk) {
    const std::string setup = ReadFile(Local("Setup.exe"));
    const std::string data = ReadFile(Local(DataName));
    switch (disk) {
        case Disk::Untouched:
            EXPECT_FALSE(fs::exists(Local("Setup.exe")));
            EXPECT_FALSE(fs::exists(Local(DataName)));
            break;
        case Disk::Complete:
            EXPECT_EQ(SignedCrc(setup), SignedCrc(files_["Setup.exe"]));
            EXPECT_EQ(data.size(), DataSize);
            EXPECT_EQ(SignedCrc(data), SignedCrc(files_[DataName]));
            break;
        case Disk::DataIncomplete:
            EXPECT_EQ(SignedCrc(setup), SignedCrc(files_["Setup.exe"]));
            EXPECT_LE(data.size(), DataSize);
            EXPECT_NE(data, files_[DataName]);
            break;
        case Disk::Empty:
            EXPECT_TRUE(fs::is_empty(programFolder_));
            break;
        case Disk::Any:
            break;
    }
}

TEST_P(FaultMatrixTest, ReachesItsOutcome) {
    const Row& row = GetParam();
    // FAULT_MATRIX_PENDING=1 runs the pending rows too, to see which of them pass now.
    if (row.pending != nullptr && std::getenv("FAULT_MATRIX_PENDING") == nullptr) {
        GTEST_SKIP() << "pending: " << row.pending;
    }
    Outcome outcome;
    switch (row.phase) {
        case Phase::Manifest:
        case Phase::List:
        case Phase::File:
            outcome = RunEngine(row);
            break;
        case Phase::Description:
        case Phase::Image:
            outcome = RunPictures(row);
            break;
        case Phase::LogReport:
            outcome = RunLogReport(row);
            break;
    }
    if (std::getenv("FAULT_MATRIX_SHOW") != nullptr) {
        std::printf("OBSERVED %s %s: screen %s setup %d pictures %d requests %d seconds %.1f\n%s\n",
                    Name(row.phase), Name(row.fault), Name(outcome.screen), outcome.setupStarted,
                    outcome.pictures, outcome.requests, outcome.seconds, outcome.text.c_str());
    }
    EXPECT_EQ(Name(outcome.screen), std::string(Name(row.screen)));
    if (row.screen == Screen::RequestFailed) {
        EXPECT_EQ(outcome.text, row.text);
    } else {
        EXPECT_NE(outcome.text.find(row.text), std::string::npos) << outcome.text;
    }
    EXPECT_EQ(outcome.setupStarted, row.setupStarted);
    if (row.phase == Phase::Description || row.phase == Phase::Image) {
        EXPECT_EQ(outcome.pictures, row.pictures);
    }
    if (row.minRequests >= 0) {
        EXPECT_GE(outcome.requests, row.minRequests);
        EXPECT_LE(outcome.requests, row.maxRequests);
    }
    EXPECT_LE(outcome.seconds, row.maxSeconds);
    if (row.phase == Phase::Manifest || row.phase == Phase::List || row.phase == Phase::File) {
        CheckDisk(row.disk);
    }
    if (row.logged != nullptr) {
        EXPECT_TRUE(HasLogEntry(row.logged)) << row.logged;
    }
    if (row.fileRequests >= 0) {
        EXPECT_EQ(outcome.fileRequests, row.fileRequests);
    }
    if (row.userMessage != nullptr) {
        EXPECT_EQ(vesk::GetUserMessage(), row.userMessage);
    }
    if (row.opensSupportPage) {
        EXPECT_EQ(WaitForFile(root_ / "opened.txt"),
                  vesk::StringUtils::ToNarrow(Configuration::SupportArticlePage) + "\n");
    }
}

std::string RowName(const ::testing::TestParamInfo<Row>& info) {
    static constexpr const char* TimesNames[] = {"", "Once", "FirstFetch"};
    return std::string(Name(info.param.phase)) + Name(info.param.fault) +
           TimesNames[static_cast<int>(info.param.times)];
}

// The test's name already says which row it is; this keeps the listing free of raw bytes.
void PrintTo(const Row& row, std::ostream* out) {
    *out << Name(row.phase) << " " << Name(row.fault);
}

INSTANTIATE_TEST_SUITE_P(Rows, FaultMatrixTest, ::testing::ValuesIn(Rows), RowName);

}  // namespace
}  // namespace DownloadSystem::Testing
