// The screens of the real program under a virtual display, against in-process HTTPS servers:
// the service and interface host (reached as the compiled-in localhost:8443 through a
// forwarder) and a content server for the release. Screenshots are checked by pixel; mouse
// clicks and drags go through xdotool.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "PortForwarder.h"
#include "Servers/HttpsServer.h"
#include "WindowHarness.h"

namespace vesk::test {
namespace {

namespace fs = std::filesystem;

constexpr const char* ProgramName = "Sorvan_9_5_test.exe";
constexpr const char* ServicePath = "/Sorvan/DownloadManager8.ashx";
constexpr std::uint16_t CompiledInPort = 8443;
// The 1200 x 640 window centred on the 1920 x 1080 screen.
constexpr int Left = 360;
constexpr int Top = 220;
constexpr Rgb White{255, 255, 255};
constexpr Rgb Accent{65, 117, 139};
constexpr Rgb Grey{100, 100, 100};
constexpr Rgb Dark{10, 10, 10};
constexpr Rgb Red{200, 40, 40};
constexpr Rgb Header{200, 180, 40};

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::uint32_t Crc32(const std::string& bytes) {
    std::uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) {
            crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
        }
    }
    return ~crc;
}

class ScreensWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!HasWindowTools()) {
            GTEST_SKIP() << "Xvfb, xdotool, xprop or ImageMagick's import is not installed";
        }
        root_ = ProgramFolderRoot();
        fs::create_directories(root_ / "bin");
        fs::create_directories(root_ / "appdata");
        // Stand-in for the browser opener: records what it was asked to open.
        const fs::path opener = root_ / "bin" / "xdg-open";
        std::ofstream(opener) << "#!/bin/sh\necho \"$@\" >> '" << (root_ / "opened.txt").string()
                              << "'\n";
        fs::permissions(opener, fs::perms::owner_all);

        service_.SetHandler(ServicePath, [this](const TestServers::RecordedRequest& request) {
            std::lock_guard<std::mutex> lock(mutex_);
            if (request.Header("Method") == "LogErrorInfo") {
                logReports_.push_back(request.body);
                return logReportReply_;
            }
            return manifest_;
        });
        manifest_ = TestServers::Reply::Text(
            200,
            "{\"product_code\":\"P1\",\"company_name\":\"Vesk\",\"download_subdir\":\"Rel\","
            "\"host_name\":\"" +
                content_.Address() + "\",\"SAS\":\"\"}");
        ASSERT_TRUE(forwarder_.Start(CompiledInPort, service_.Port()))
            << "port " << CompiledInPort << " is in use by something other than a window test";
        ASSERT_TRUE(display_.Start()) << "Xvfb did not start";
    }

    void TearDown() override {
        ReleasePictures();
        forwarder_.Stop();
        service_.Stop();
        content_.Stop();
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    static fs::path ProgramFolderRoot() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        return fs::temp_directory_path() /
               ("sorvan-screens-" + std::to_string(::getpid()) + "-" + info->name());
    }

    // Interface pictures: a header image and three slides whose keys arrive as b, a, c.
    // The description is held back until ReleasePictures(), so the splash (which lasts
    // until the pictures are in) is seen however slow the machine is.
    void PublishPictures() {
        MakeImage("header.png", 601, 100, Header);
        MakeImage("a.png", 64, 64, Red);
        MakeImage("b.png", 64, 64, Rgb{40, 200, 40});
        MakeImage("c.png", 64, 64, Rgb{40, 40, 200});
        content_.ServeFolder("/pictures/", root_ / "pictures");
        const auto url = [this](const std::string& name) {
            return content_.Url("/pictures/" + name);
        };
        TestServers::Reply meta = TestServers::Reply::Text(
            200, "{\"core\":{\"logo_background\":\"" + url("header.png") +
                     "\"},\"media\":{\"b\":\"" + url("b.png") + "\",\"a\":\"" + url("a.png") +
                     "?v=2\",\"c\":\"" + url("c.png") + "\"}}");
        service_.SetHandler("/downloadmanager/9/meta.json", [this, meta](const auto&) {
            for (int i = 0; i < 1200 && !picturesReleased_.load(); ++i) {
                std::this_thread::sleep_for(50ms);
            }
            return meta;
        });
    }
    void ReleasePictures() { picturesReleased_ = true; }

    void MakeImage(const std::string& name, int width, int height, Rgb colour) {
        fs::create_directories(root_ / "pictures");
        char fill[32];
        std::snprintf(fill, sizeof(fill), "xc:rgb(%d,%d,%d)", colour.r, colour.g, colour.b);
        const auto made =
            RunCommand({"convert", "-size", std::to_string(width) + "x" + std::to_string(height),
                        fill, (root_ / "pictures" / name).string()});
        ASSERT_EQ(made.exitCode, 0) << made.output;
    }

    // The release's files; the list is served as Sorvan_9_5.txt. Returns the list's text.
    std::string PublishRelease(
        const std::vector<std::pair<std::string, TestServers::Reply>>& files) {
        std::string list;
        for (const auto& [name, reply] : files) {
            const std::string bytes = reply.body;
            list += name + "\r\n" + std::to_string(bytes.size()) + "\r\n" +
                    std::to_string(static_cast<std::int32_t>(Crc32(bytes))) + ";";
            content_.SetReply("/Rel/" + name, reply);
        }
        content_.SetReply("/Rel/Sorvan_9_5.txt", TestServers::Reply::Text(200, list));
        return list;
    }

    bool StartProgram(ProgramUnderTest& program) {
        const char* path = std::getenv("PATH");
        return program.Start(display_, {"PATH=" + (root_ / "bin").string() + ":" +
                                            (path != nullptr ? path : "/usr/bin:/bin"),
                                        "XDG_DATA_HOME=" + (root_ / "appdata").string()});
    }

    // Screenshots until `ready` holds for one, at most `timeout`; the last one either way.
    std::optional<Screenshot> WaitForScreen(const std::string& name,
                                            const std::function<bool(const Screenshot&)>& ready,
                                            std::chrono::seconds timeout = 40s) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        std::optional<Screenshot> shot;
        do {
            shot = Screenshot::Take(display_, ScreenshotPath(name));
            if (shot && ready(*shot)) {
                return shot;
            }
            std::this_thread::sleep_for(150ms);
        } while (std::chrono::steady_clock::now() < deadline);
        return shot;
    }

    std::vector<std::string> LogReports() {
        std::lock_guard<std::mutex> lock(mutex_);
        return logReports_;
    }

    static bool IsGreyScreen(const Screenshot& shot, int left = Left, int top = Top) {
        return Near(shot.Pixel(left + 100, top + 100), Grey, 4) &&
               Near(shot.Pixel(left + 1100, top + 600), Grey, 4);
    }

    fs::path root_;
    std::atomic<bool> picturesReleased_{false};
    TestServers::HttpsServer service_;
    TestServers::HttpsServer content_;
    PortForwarder forwarder_;
    VirtualDisplay display_;
    std::mutex mutex_;
    TestServers::Reply manifest_;
    TestServers::Reply logReportReply_ = TestServers::Reply::Text(200, "");
    std::vector<std::string> logReports_;
};

// The splash, the progress screen with its pictures, pause, dragging, and the exit glyph.
TEST_F(ScreensWindowTest, SplashThenProgressPauseDragAndExitGlyph) {
    // The description is held until the splash was seen; the release file comes slowly so
    // the download is still running at the end.
    PublishPictures();
    TestServers::Reply slow;
    slow.body = std::string(24 * 1024 * 1024, 'x');
    slow.slowPiece = 64 * 1024;
    slow.slowPause = 60ms;
    PublishRelease({{"big.bin", slow}});

    ProgramUnderTest program(SORVAN_PROGRAM_PATH, ProgramName);
    ASSERT_TRUE(StartProgram(program));
    XTools x(display_);
    const auto window = x.FindWindow(program.Pid());
    ASSERT_TRUE(window) << program.Output();

    // Splash: the window shrinks to the 198 x 251 logo, centred.
    constexpr int LogoLeft = (1920 - 198) / 2;
    constexpr int LogoTop = (1080 - 251) / 2;
    const auto splash = WaitForScreen("screens-splash.png", [&](const Screenshot& shot) {
        return shot.CountNear(LogoLeft, LogoTop, 198, 40, Accent, 12) > 198 * 40 / 2;
    });
    ASSERT_TRUE(splash);
    EXPECT_GT(splash->CountNear(LogoLeft, LogoTop, 198, 40, Accent, 12), 198 * 40 / 2)
        << splash->File();
    EXPECT_TRUE(Near(splash->Pixel(LogoLeft - 20, LogoTop + 100), Rgb{0, 0, 0}))
        << "the window is larger than the logo: " << splash->File();
    ReleasePictures();

    // Progress screen: the first slide (key a), the header image, the heading, the bar
    // filling in the accent colour and the figures table.
    const auto progress = WaitForScreen("screens-progress.png", [&](const Screenshot& shot) {
        return shot.CountNear(Left + 660, Top + 400, 480, 14, Accent, 10) > 14 * 10 &&
               shot.CountNear(Left + 660, Top + 490, 300, 100, Dark, 100) > 200;
    });
    ASSERT_TRUE(progress);
    SCOPED_TRACE("screenshot: " + progress->File().string());
    EXPECT_TRUE(Near(progress->Pixel(Left + 50, Top + 50), Red, 10))
        << ToString(progress->Pixel(Left + 50, Top + 50));
    EXPECT_TRUE(Near(progress->Pixel(Left + 900, Top + 50), Header, 10));
    EXPECT_GT(progress->CountNear(Left + 700, Top + 365, 400, 30, Dark, 100), 100);  // heading
    EXPECT_TRUE(Near(progress->Pixel(Left + 661, Top + 407), Accent, 10));
    EXPECT_TRUE(Near(progress->Pixel(Left + 1138, Top + 407), White, 10));            // not full
    EXPECT_GT(progress->CountNear(Left + 660, Top + 490, 140, 100, Dark, 100), 200);  // labels
    EXPECT_GT(progress->CountNear(Left + 805, Top + 490, 300, 100, Dark, 100), 100);  // values

    // Pause: the glyph turns into the play glyph and the file stops growing.
    const auto glyphShape = [](const Screenshot& shot) {
        std::string shape;
        for (int y = Top + 600; y < Top + 640; ++y) {
            for (int x = Left + 1160; x < Left + 1200; ++x) {
                shape += Near(shot.Pixel(x, y), Dark, 80) ? '#' : '.';
            }
        }
        return shape;
    };
    ASSERT_TRUE(x.MoveMouse(Left + 300, Top + 300));
    const auto before =
        WaitForScreen("screens-pause-before.png", [](const Screenshot&) { return true; });
    ASSERT_TRUE(before);
    // The pointer leaves before the next frame: the click must still count where it was.
    ASSERT_TRUE(x.ClickAndMoveAway(Left + 1184, Top + 622, Left + 300, Top + 300));
    std::this_thread::sleep_for(1500ms);
    const auto paused = Screenshot::Take(display_, ScreenshotPath("screens-paused.png"));
    ASSERT_TRUE(paused);
    EXPECT_NE(glyphShape(*before), glyphShape(*paused)) << "the glyph did not change";
    const auto downloaded = [&program] {
        std::uintmax_t size = 0;
        for (const auto& entry : fs::directory_iterator(program.Folder())) {
            if (entry.path().filename().string().find("big") != std::string::npos) {
                size += entry.file_size();
            }
        }
        return size;
    };
    const std::uintmax_t pausedAt = downloaded();
    std::this_thread::sleep_for(2s);
    EXPECT_EQ(downloaded(), pausedAt) << "bytes still arrive while paused";
    EXPECT_LT(pausedAt, 24u * 1024 * 1024);

    // Dragging a free spot moves the window; a drag that starts on a glyph does not.
    ASSERT_TRUE(x.Drag(Left + 900, Top + 250, Left + 800, Top + 200));
    std::this_thread::sleep_for(300ms);
    auto geometry = x.GetGeometry(*window);
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->x, Left - 100);
    EXPECT_EQ(geometry->y, Top - 50);
    const int left = geometry->x;
    const int top = geometry->y;
    ASSERT_TRUE(x.Drag(left + 1161, top + 18, left + 1000, top + 200));
    std::this_thread::sleep_for(300ms);
    geometry = x.GetGeometry(*window);
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->x, left);
    EXPECT_EQ(geometry->y, top);
    EXPECT_TRUE(program.IsRunning()) << "the drag pressed the minimise glyph";

    // The exit glyph posts the log report and ends the program while the download runs.
    ASSERT_TRUE(x.Click(left + 1183, top + 18));
    const auto clicked = std::chrono::steady_clock::now();
    const auto code = program.WaitForExit(15s);
    ASSERT_TRUE(code) << "still running after the exit glyph";
    std::printf("ended %.2f s after the exit glyph, download still running\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - clicked).count());
    EXPECT_EQ(*code, 0) << program.Output();
    EXPECT_EQ(LogReports().size(), 1u);
    EXPECT_TRUE(fs::exists(program.Folder() / "logfile.txt"));
}

// A refused manifest request: the grey screen with its message, the support page opened,
// and Exit sends the log report and ends the program.
TEST_F(ScreensWindowTest, FailedManifestRequestShowsRequestFailedScreen) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        manifest_ = TestServers::Reply::Text(500, "down");
    }
    ProgramUnderTest program(SORVAN_PROGRAM_PATH, ProgramName);
    ASSERT_TRUE(StartProgram(program));
    XTools x(display_);
    ASSERT_TRUE(x.FindWindow(program.Pid())) << program.Output();

    const auto shot = WaitForScreen("screens-request-failed.png",
                                    [](const Screenshot& s) { return IsGreyScreen(s); });
    ASSERT_TRUE(shot);
    SCOPED_TRACE("screenshot: " + shot->File().string());
    ASSERT_TRUE(IsGreyScreen(*shot));
    EXPECT_GT(shot->CountNear(Left + 200, Top + 315, 800, 30, Dark, 100), 300);      // message
    EXPECT_GT(shot->CountNear(Left + 520, Top + 500, 160, 38, White, 10), 160 * 2);  // Exit box
    EXPECT_NE(ReadFile(root_ / "opened.txt").find("/support/"), std::string::npos);

    ASSERT_TRUE(x.Click(Left + 600, Top + 519));
    const auto code = program.WaitForExit(15s);
    ASSERT_TRUE(code) << "still running after Exit";
    EXPECT_EQ(*code, 0);
    EXPECT_EQ(LogReports().size(), 1u);
}

// A download that ends with an error (the release has no setup program): the download error
// screen with the user message; Exit sends the log report and ends the program.
TEST_F(ScreensWindowTest, DownloadEndingWithErrorsShowsErrorScreenUntilExit) {
    PublishRelease({{"data.bin", TestServers::Reply::Text(200, "release bytes")}});
    ProgramUnderTest program(SORVAN_PROGRAM_PATH, ProgramName);
    ASSERT_TRUE(StartProgram(program));
    XTools x(display_);
    ASSERT_TRUE(x.FindWindow(program.Pid())) << program.Output();

    const auto shot = WaitForScreen("screens-download-error.png", [](const Screenshot& s) {
        // The message where the heading was, and no figures table.
        return s.CountNear(Left + 700, Top + 365, 400, 60, Dark, 100) > 200 &&
               s.CountNear(Left + 660, Top + 490, 140, 100, Dark, 100) == 0;
    });
    ASSERT_TRUE(shot);
    SCOPED_TRACE("screenshot: " + shot->File().string());
    EXPECT_GT(shot->CountNear(Left + 700, Top + 365, 400, 60, Dark, 100), 200);  // message
    EXPECT_EQ(shot->CountNear(Left + 660, Top + 490, 140, 100, Dark, 100), 0);   // no table
    // The Exit box is visible on the white panel: its outline is drawn in dark ink.
    EXPECT_GT(shot->CountNear(Left + 820, Top + 500, 160, 38, Dark, 60), 160 * 2);
    EXPECT_TRUE(program.IsRunning());

    ASSERT_TRUE(x.Click(Left + 900, Top + 519));
    const auto code = program.WaitForExit(15s);
    ASSERT_TRUE(code) << "still running after Exit";
    EXPECT_EQ(*code, 0);
    EXPECT_EQ(LogReports().size(), 1u);
}

// A service that accepts the manifest request and never answers: the splash stays drawn
// (not turned transparent) while the request waits, and closing the window through the
// window manager ends the program at once.
TEST_F(ScreensWindowTest, SilentServiceKeepsTheWindowDrawnAndClosable) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        manifest_.silent = true;
    }
    ProgramUnderTest program(SORVAN_PROGRAM_PATH, ProgramName);
    ASSERT_TRUE(StartProgram(program));
    XTools x(display_);
    const auto window = x.FindWindow(program.Pid());
    ASSERT_TRUE(window) << program.Output();
    ASSERT_TRUE(service_.WaitForRequests(1, 40s));
    for (int i = 0; i < 100 && service_.RequestsTo(ServicePath).empty(); ++i) {
        std::this_thread::sleep_for(100ms);
    }
    ASSERT_FALSE(service_.RequestsTo(ServicePath).empty()) << "no manifest request";
    std::this_thread::sleep_for(1500ms);

    constexpr int LogoLeft = (1920 - 198) / 2;
    constexpr int LogoTop = (1080 - 251) / 2;
    const auto shot = Screenshot::Take(display_, ScreenshotPath("screens-silent-service.png"));
    ASSERT_TRUE(shot);
    EXPECT_GT(shot->CountNear(LogoLeft, LogoTop, 198, 40, Accent, 12), 198 * 40 / 2)
        << shot->File();
    const auto opacity = x.GetOpacity(*window);
    ASSERT_TRUE(opacity);
    EXPECT_GT(*opacity, 0.5) << "the window turned transparent while the request waits";

    ASSERT_TRUE(x.Close(*window));
    const auto code = program.WaitForExit(5s);
    ASSERT_TRUE(code) << "still running after the window was closed";
    EXPECT_EQ(*code, 0);
}

// An interface host that accepts and never answers holds the splash only for the pictures'
// deadline: the download screens come up within seconds, without pictures.
TEST_F(ScreensWindowTest, SilentInterfaceHostHoldsTheSplashOnlyBriefly) {
    TestServers::Reply silent;
    silent.silent = true;
    service_.SetReply("/downloadmanager/9/meta.json", silent);
    PublishRelease({{"data.bin", TestServers::Reply::Text(200, "release bytes")}});
    ProgramUnderTest program(SORVAN_PROGRAM_PATH, ProgramName);
    ASSERT_TRUE(StartProgram(program));
    XTools x(display_);
    const auto window = x.FindWindow(program.Pid());
    ASSERT_TRUE(window) << program.Output();
    const auto widthIs = [&](int width, std::chrono::seconds timeout) {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        do {
            const auto geometry = x.GetGeometry(*window);
            if (geometry && geometry->width == width) {
                return true;
            }
            std::this_thread::sleep_for(100ms);
        } while (std::chrono::steady_clock::now() < deadline);
        return false;
    };
    ASSERT_TRUE(widthIs(198, 30s)) << "no splash";
    const auto shown = std::chrono::steady_clock::now();
    const bool leftSplash = widthIs(1200, 20s);
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - shown).count();
    ASSERT_TRUE(leftSplash) << "the splash still waits for the pictures";
    std::printf("the splash ended %.2f s after the window appeared\n", seconds);
    EXPECT_FALSE(service_.RequestsTo(ServicePath).empty()) << "no manifest request";
}

// Exit on an error screen while the report endpoint accepts and never answers: the program
// ends within 15 s all the same, with logfile.txt written.
TEST_F(ScreensWindowTest, ExitEndsTheProgramInTimeWhenTheReportIsNeverAnswered) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        manifest_ = TestServers::Reply::Text(500, "down");
        logReportReply_.silent = true;
    }
    ProgramUnderTest program(SORVAN_PROGRAM_PATH, ProgramName);
    ASSERT_TRUE(StartProgram(program));
    XTools x(display_);
    ASSERT_TRUE(x.FindWindow(program.Pid())) << program.Output();
    const auto shot = WaitForScreen("screens-report-silent.png",
                                    [](const Screenshot& s) { return IsGreyScreen(s); });
    ASSERT_TRUE(shot && IsGreyScreen(*shot));

    ASSERT_TRUE(x.Click(Left + 600, Top + 519));
    const auto clicked = std::chrono::steady_clock::now();
    const auto code = program.WaitForExit(20s);
    ASSERT_TRUE(code) << "still running after Exit";
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - clicked).count();
    EXPECT_LT(seconds, 15.0);
    EXPECT_EQ(*code, 0);
    EXPECT_EQ(LogReports().size(), 1u) << "the report was attempted";
    EXPECT_TRUE(fs::exists(program.Folder() / "logfile.txt"));
}

// Download error screens whose engine set no user message still say why: a withdrawn
// release, a refused list, and a run that recovered from a failed transfer and started
// setup (which ends on this screen so the log can be sent).
TEST_F(ScreensWindowTest, DownloadErrorScreenSaysWhy) {
    const std::string setup = "#!/bin/sh\ntrue\n";
    struct Row {
        const char* name;
        std::function<void()> publish;
    };
    std::atomic<int> setupRequests{0};
    const std::vector<Row> rows = {
        {"withdrawn",
         [&] { content_.SetReply("/Rel/Sorvan_9_5.txt", TestServers::Reply::Text(404, "")); }},
        {"unsafe list",
         [&] {
             content_.SetReply("/Rel/Sorvan_9_5.txt",
                               TestServers::Reply::Text(200, "../evil.bin\r\n1\r\n0;"));
         }},
        {"recovered",
         [&] {
             PublishRelease({{"Setup.exe", TestServers::Reply::Text(200, setup)}});
             const auto good = TestServers::Reply::Text(200, setup);
             content_.SetHandler("/Rel/Setup.exe", [&setupRequests, good](const auto&) {
                 return setupRequests++ == 0 ? TestServers::Reply::Text(503, "busy") : good;
             });
         }},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        row.publish();
        ProgramUnderTest program(SORVAN_PROGRAM_PATH, ProgramName);
        ASSERT_TRUE(StartProgram(program));
        XTools x(display_);
        ASSERT_TRUE(x.FindWindow(program.Pid())) << program.Output();
        const auto shot = WaitForScreen(
            std::string("screens-says-why-") + row.name + ".png", [](const Screenshot& s) {
                // The white panel with the dark Exit box on it.
                return Near(s.Pixel(Left + 1150, Top + 300), White) &&
                       Near(s.Pixel(Left + 1150, Top + 600), White) &&
                       s.CountNear(Left + 820, Top + 500, 160, 38, Dark, 60) > 160 * 2;
            });
        ASSERT_TRUE(shot);
        SCOPED_TRACE("screenshot: " + shot->File().string());
        EXPECT_GT(shot->CountNear(Left + 660, Top + 340, 480, 150, Dark, 100), 200)
            << "no text on the error screen";
        ASSERT_TRUE(x.Click(Left + 900, Top + 519));
        ASSERT_TRUE(program.WaitForExit(20s)) << "still running after Exit";
    }
}

// A clean download starts the setup program and the window closes by itself.
// Exit while the last file arrives: the download then ends cleanly and starts setup, but
// the report that Exit started is still waiting on the service. The program waits for it.
TEST_F(ScreensWindowTest, ExitDuringADownloadThatThenEndsCleanlyStillSendsTheWholeReport) {
    constexpr auto ReportAnswerDelay = 6s;
    std::chrono::steady_clock::time_point reportArrived{};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        logReportReply_.delay = ReportAnswerDelay;
    }
    service_.SetHandler(ServicePath,
                        [this, &reportArrived](const TestServers::RecordedRequest& request) {
                            std::lock_guard<std::mutex> lock(mutex_);
                            if (request.Header("Method") == "LogErrorInfo") {
                                reportArrived = std::chrono::steady_clock::now();
                                logReports_.push_back(request.body);
                                return logReportReply_;
                            }
                            return manifest_;
                        });
    // The first file fills half the bar; the second is held back until Exit has been
    // pressed, so the download ends cleanly just after Exit, while the report waits,
    // however slow the machine.
    // Shared with the server's thread, which may outlive this test's body.
    const auto exitPressed = std::make_shared<std::atomic<bool>>(false);
    const std::string half(1024 * 1024, 'x');
    const std::string setup = "#!/bin/sh\npwd > '" + (root_ / "setup-ran.txt").string() + "'\n";
    PublishRelease({{"a.bin", TestServers::Reply::Text(200, half)},
                    {"b.bin", TestServers::Reply::Text(200, half)},
                    {"Setup.exe", TestServers::Reply::Text(200, setup)}});
    content_.SetHandler("/Rel/b.bin", [exitPressed, half](const TestServers::RecordedRequest&) {
        for (int i = 0; i < 300 && !*exitPressed; ++i) {
            std::this_thread::sleep_for(100ms);
        }
        return TestServers::Reply::Text(200, half);
    });

    ProgramUnderTest program(SORVAN_PROGRAM_PATH, ProgramName);
    ASSERT_TRUE(StartProgram(program));
    XTools x(display_);
    ASSERT_TRUE(x.FindWindow(program.Pid())) << program.Output();
    const auto progress = WaitForScreen("screens-exit-late.png", [&](const Screenshot& shot) {
        return shot.CountNear(Left + 660, Top + 400, 480, 14, Accent, 10) > 14 * 10;
    });
    ASSERT_TRUE(progress);
    ASSERT_TRUE(x.Click(Left + 1183, Top + 18));
    *exitPressed = true;
    const auto code = program.WaitForExit(30s);
    const auto ended = std::chrono::steady_clock::now();
    ASSERT_TRUE(code) << "still running after Exit";
    EXPECT_EQ(*code, 0);
    for (int i = 0; i < 50 && ReadFile(root_ / "setup-ran.txt").empty(); ++i) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_FALSE(ReadFile(root_ / "setup-ran.txt").empty()) << "the download did not end cleanly";
    std::lock_guard<std::mutex> lock(mutex_);
    ASSERT_EQ(logReports_.size(), 1u);
    // The program may end only once the service has answered the report.
    EXPECT_GE(ended - reportArrived, ReportAnswerDelay - 500ms);
}

TEST_F(ScreensWindowTest, CleanDownloadStartsSetupAndCloses) {
    const std::string setup = "#!/bin/sh\npwd > '" + (root_ / "setup-ran.txt").string() + "'\n";
    PublishRelease({{"data.bin", TestServers::Reply::Text(200, "release bytes")},
                    {"Setup.exe", TestServers::Reply::Text(200, setup)}});
    ProgramUnderTest program(SORVAN_PROGRAM_PATH, ProgramName);
    ASSERT_TRUE(StartProgram(program));
    const auto code = program.WaitForExit(60s);
    ASSERT_TRUE(code) << "still running after the download";
    EXPECT_EQ(*code, 0);
    for (int i = 0; i < 50 && ReadFile(root_ / "setup-ran.txt").empty(); ++i) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(ReadFile(root_ / "setup-ran.txt"), program.Folder().string() + "\n");
    EXPECT_TRUE(LogReports().empty());
}

}  // namespace
}  // namespace vesk::test

namespace vesk::test {
namespace {

// A drag whose release lands on a button before the window could follow the pointer does
// not press it; a plain click on the same spot afterwards does.
TEST_F(ScreensWindowTest, DragsThatEndOverTheExitGlyphOrExitPressNothing) {
    PublishRelease({{"data.bin", TestServers::Reply::Text(200, "release bytes")}});
    ProgramUnderTest program(SORVAN_PROGRAM_PATH, ProgramName);
    ASSERT_TRUE(StartProgram(program));
    XTools x(display_);
    const auto window = x.FindWindow(program.Pid());
    ASSERT_TRUE(window) << program.Output();
    const auto shot = WaitForScreen("screens-drag-error.png", [](const Screenshot& s) {
        return s.CountNear(Left + 820, Top + 500, 160, 38, Dark, 60) > 160 * 2;
    });
    ASSERT_TRUE(shot);
    ASSERT_GT(shot->CountNear(Left + 820, Top + 500, 160, 38, Dark, 60), 160 * 2)
        << "no download error screen: " << shot->File();

    struct Row {
        const char* name;
        int fromX, fromY;  // a free spot, in window coordinates
        int toX, toY;      // on the button
    };
    const Row rows[] = {
        {"exit glyph", 1100, 18, 1183, 18},
        {"Exit button", 760, 519, 900, 519},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const auto at = x.GetGeometry(*window);
        ASSERT_TRUE(at);
        ASSERT_TRUE(x.PressMoveRelease(at->x + row.fromX, at->y + row.fromY, at->x + row.toX,
                                       at->y + row.toY));
        // Frames to act on it, had the release counted as a press.
        std::this_thread::sleep_for(1500ms);
        EXPECT_TRUE(program.IsRunning()) << "the drag pressed the button";
        EXPECT_TRUE(LogReports().empty()) << "the drag sent the log report";
    }

    const auto at = x.GetGeometry(*window);
    ASSERT_TRUE(at);
    ASSERT_TRUE(x.Click(at->x + 900, at->y + 519));
    const auto code = program.WaitForExit(15s);
    ASSERT_TRUE(code) << "still running after Exit";
    EXPECT_EQ(*code, 0);
    EXPECT_EQ(LogReports().size(), 1u);
}

// While the final check runs, the progress screen says so in place of the figures, and the
// bar shows how much of the release has been verified: here the first of two equal files.
// The second file is swapped for a pipe when the check fetches the list, so the check waits
// on it for as long as the test needs.
TEST_F(ScreensWindowTest, VerificationShowsItsTextAndItsOwnBar) {
    const std::string setup = "#!/bin/sh\npwd > '" + (root_ / "setup-ran.txt").string() + "'\n";
    const std::string second(64 * 1024, 'b');
    const std::string list = PublishRelease(
        {{"part-one.bin", TestServers::Reply::Text(200, std::string(64 * 1024, 'a'))},
         {"part-two.bin", TestServers::Reply::Text(200, second)},
         {"Setup.exe", TestServers::Reply::Text(200, setup)}});
    ProgramUnderTest program(SORVAN_PROGRAM_PATH, ProgramName);
    std::atomic<int> listFetches{0};
    std::atomic<int> pipeWriter{-1};
    const fs::path folder = program.Folder();
    content_.SetHandler("/Rel/Sorvan_9_5.txt", [&, folder, list](const auto&) {
        // The pass fetches the list twice, the check after the downloads twice more.
        if (listFetches++ == 2) {
            for (const auto& entry : fs::directory_iterator(folder)) {
                const fs::path path = entry.path();
                if (path.filename().string().find("two.bin") != std::string::npos) {
                    fs::remove(path);
                    if (::mkfifo(path.c_str(), 0600) == 0) {
                        pipeWriter = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
                    }
                }
            }
        }
        return TestServers::Reply::Text(200, list);
    });
    struct CloseWriter {
        std::atomic<int>& fd;
        ~CloseWriter() {
            const int open = fd.exchange(-1);
            if (open >= 0) {
                ::close(open);
            }
        }
    } closeWriter{pipeWriter};

    ASSERT_TRUE(StartProgram(program));
    XTools x(display_);
    ASSERT_TRUE(x.FindWindow(program.Pid())) << program.Output();
    const auto verifying = [&pipeWriter](const Screenshot& s) {
        return pipeWriter.load() >= 0 &&
               s.CountNear(Left + 800, Top + 488, 200, 22, Dark, 100) > 50 &&
               s.CountNear(Left + 660, Top + 520, 140, 70, Dark, 100) == 0 &&
               Near(s.Pixel(Left + 1000, Top + 407), White, 10) &&
               Near(s.Pixel(Left + 700, Top + 407), Accent, 10);  // faded in
    };
    const auto shot = WaitForScreen("screens-verifying.png", verifying, 60s);
    ASSERT_TRUE(shot);
    SCOPED_TRACE("screenshot: " + shot->File().string());
    ASSERT_GE(pipeWriter.load(), 0) << "the list was not fetched for the check";
    EXPECT_GT(shot->CountNear(Left + 800, Top + 488, 200, 22, Dark, 100), 50) << "no text";
    // No figures table and no pause glyph while verifying.
    EXPECT_EQ(shot->CountNear(Left + 660, Top + 490, 140, 100, Dark, 100), 0);
    EXPECT_EQ(shot->CountNear(Left + 1160, Top + 600, 40, 40, Dark, 100), 0);
    // Half the bar: filled up to about its middle, white beyond (the percentage sits at the
    // middle itself).
    EXPECT_GT(shot->CountNear(Left + 662, Top + 402, 180, 10, Accent, 10), 180 * 10 * 9 / 10);
    EXPECT_GT(shot->CountNear(Left + 950, Top + 402, 186, 10, White, 10), 186 * 10 * 9 / 10);
    // "49%" straddles the fill's end (x 895): the digits past it must still be readable.
    EXPECT_GT(shot->CountNear(Left + 897, Top + 399, 20, 17, Dark, 100), 10)
        << "the percentage past the fill is drawn white on white";

    // The right bytes: the check passes, setup starts and the window closes.
    EXPECT_EQ(::write(pipeWriter, second.data(), second.size()),
              static_cast<::ssize_t>(second.size()));
    ::close(pipeWriter.exchange(-1));
    const auto code = program.WaitForExit(60s);
    ASSERT_TRUE(code) << "still running after the check";
    EXPECT_EQ(*code, 0);
    for (int i = 0; i < 50 && ReadFile(root_ / "setup-ran.txt").empty(); ++i) {
        std::this_thread::sleep_for(100ms);
    }
    EXPECT_EQ(ReadFile(root_ / "setup-ran.txt"), program.Folder().string() + "\n");
}

}  // namespace
}  // namespace vesk::test
