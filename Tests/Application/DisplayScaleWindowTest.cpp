// The real program on displays of 96, 120, 144 and 192 DPI (Xft.dpi): the window's size in
// pixels, the height of its text, and a click on Exit landing on Exit at every scale.
#include <gtest/gtest.h>

#include <unistd.h>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <thread>

#include "PortForwarder.h"
#include "Servers/HttpsServer.h"
#include "WindowHarness.h"

namespace vesk::test {
namespace {

constexpr const char* ProgramName = "Sorvan_9_5_test.exe";
// Large enough for the 2400 x 1280 window of 200%, so nothing is clamped.
constexpr int ScreenWidth = 2560;
constexpr int ScreenHeight = 1440;
constexpr Rgb Grey{100, 100, 100};
constexpr Rgb Ink{10, 10, 10};
constexpr Rgb LogoTopColour{65, 117, 139};
// Rows from the top of "D" to the bottom of "p" of the request-failed message (20 px) in
// an unscaled window.
constexpr int UnscaledTextRows = 16;

struct ScaleCase {
    int dpi;
    double scale;
};

void PrintTo(const ScaleCase& row, std::ostream* out) {
    *out << row.dpi << " DPI";
}

std::string PrintCase(const ::testing::TestParamInfo<ScaleCase>& info) {
    return "Dpi" + std::to_string(info.param.dpi);
}

int Scaled(int units, double scale) {
    return static_cast<int>(std::lround(units * scale));
}

// Rows of the band (x, y, width, height) that hold ink, from the first to the last.
int InkRows(const Screenshot& shot, int x, int y, int width, int height) {
    int first = -1;
    int last = -1;
    for (int row = y; row < y + height; ++row) {
        if (shot.CountNear(x, row, width, 1, Ink, 40) > 0) {
            first = first < 0 ? row : first;
            last = row;
        }
    }
    return first < 0 ? 0 : last - first + 1;
}

class DisplayScaleWindowTest : public ::testing::TestWithParam<ScaleCase> {
protected:
    void SetUp() override {
        if (!HasWindowTools()) {
            GTEST_SKIP() << "Xvfb, xdotool, xprop or ImageMagick's import is not installed";
        }
        // The manifest request fails against a service that knows nothing, so the
        // request-failed screen with its message and Exit button stays up.
        ASSERT_TRUE(forwarder_.Start(8443, service_.Port()));
        service_.SetHandler("/downloadmanager/9/meta.json", [this](const auto&) {
            for (int i = 0; i < 1200 && !splashMeasured_.load(); ++i) {
                std::this_thread::sleep_for(50ms);
            }
            return TestServers::Reply::Text(404, "");
        });
        bin_ = std::filesystem::temp_directory_path() /
               ("sorvan-display-scale-" + std::to_string(::getpid()));
        std::filesystem::create_directories(bin_);
        std::ofstream(bin_ / "xdg-open") << "#!/bin/sh\nexit 0\n";
        std::filesystem::permissions(bin_ / "xdg-open", std::filesystem::perms::owner_all);
        ASSERT_TRUE(display_.Start(ScreenWidth, ScreenHeight)) << "Xvfb did not start";
        ASSERT_TRUE(display_.SetResources("Xft.dpi:\t" + std::to_string(GetParam().dpi) + "\n"));
    }

    void TearDown() override {
        splashMeasured_ = true;
        std::error_code ignored;
        std::filesystem::remove_all(bin_, ignored);
    }

    EnvironmentChanges Environment() const {
        const char* path = std::getenv("PATH");
        return {"PATH=" + bin_.string() + ":" + (path != nullptr ? path : "/usr/bin:/bin")};
    }

    std::filesystem::path bin_;
    std::atomic<bool> splashMeasured_{false};
    TestServers::HttpsServer service_;
    PortForwarder forwarder_;
    VirtualDisplay display_;
};

TEST_P(DisplayScaleWindowTest, WindowTextAndClicksFollowTheDisplayScale) {
    const double scale = GetParam().scale;
    ProgramUnderTest program(SORVAN_PROGRAM_PATH, ProgramName);
    ASSERT_TRUE(program.Start(display_, Environment()));
    XTools x(display_);
    const auto window = x.FindWindow(program.Pid());
    ASSERT_TRUE(window) << "no window appeared; output:\n" << program.Output();

    // The splash: the 198 x 251 logo, scaled, centred, its panel colour filling the top.
    const int logoWidth = Scaled(198, scale);
    const int logoHeight = Scaled(251, scale);
    const int logoLeft = (ScreenWidth - logoWidth) / 2;
    const int logoTop = (ScreenHeight - logoHeight) / 2;
    const std::string dpi = std::to_string(GetParam().dpi);
    std::optional<Screenshot> splash;
    auto deadline = std::chrono::steady_clock::now() + 60s;
    do {
        std::this_thread::sleep_for(100ms);
        splash = Screenshot::Take(display_, ScreenshotPath("display-scale-" + dpi + "-splash.png"));
    } while ((!splash || splash->CountNear(logoLeft, logoTop, logoWidth, Scaled(30, scale),
                                           LogoTopColour, 12) < logoWidth * Scaled(25, scale)) &&
             std::chrono::steady_clock::now() < deadline);
    ASSERT_TRUE(splash);
    SCOPED_TRACE("splash: " + splash->File().string());
    const auto splashGeometry = x.GetGeometry(*window);
    ASSERT_TRUE(splashGeometry);
    EXPECT_EQ(splashGeometry->width, logoWidth);
    EXPECT_EQ(splashGeometry->height, logoHeight);
    // Right of the logo lies the desktop, not a stretched or clipped picture.
    EXPECT_TRUE(Near(splash->Pixel(logoLeft + logoWidth - 4, logoTop + 4), LogoTopColour, 12))
        << ToString(splash->Pixel(logoLeft + logoWidth - 4, logoTop + 4));
    EXPECT_TRUE(Near(splash->Pixel(logoLeft + logoWidth + 4, logoTop + 4), Rgb{0, 0, 0}));
    splashMeasured_ = true;

    // The request-failed screen: 1200 x 640 units, centred.
    const int width = Scaled(1200, scale);
    const int height = Scaled(640, scale);
    const int left = (ScreenWidth - width) / 2;
    const int top = (ScreenHeight - height) / 2;
    std::optional<Screenshot> failed;
    deadline = std::chrono::steady_clock::now() + 60s;
    do {
        std::this_thread::sleep_for(200ms);
        failed = Screenshot::Take(display_, ScreenshotPath("display-scale-" + dpi + "-failed.png"));
        // Faded in: the grey is full and the message's ink as dark as it gets.
    } while ((!failed || !Near(failed->Pixel(left + 10, top + 10), Grey, 4) ||
              InkRows(*failed, left, top + Scaled(300, scale), width, Scaled(60, scale)) == 0) &&
             std::chrono::steady_clock::now() < deadline);
    ASSERT_TRUE(failed);
    SCOPED_TRACE("request-failed screen: " + failed->File().string());
    const auto geometry = x.GetGeometry(*window);
    ASSERT_TRUE(geometry);
    EXPECT_EQ(geometry->x, left);
    EXPECT_EQ(geometry->y, top);
    EXPECT_EQ(geometry->width, width);
    EXPECT_EQ(geometry->height, height);
    EXPECT_TRUE(Near(failed->Pixel(left + width - 3, top + height - 3), Grey, 4));

    // The message at (600 - width / 2, 319) units, 20 px text: its rows scale with the
    // display, rasterised at that size rather than an unscaled text stretched.
    const int rows = InkRows(*failed, left, top + Scaled(300, scale), width, Scaled(60, scale));
    std::printf("scale %.2f: window %dx%d, message %d rows high\n", scale, geometry->width,
                geometry->height, rows);
    RecordProperty("text_rows", rows);
    const double expectedRows = UnscaledTextRows * scale;
    EXPECT_NEAR(rows, expectedRows, 2.0);
    // Sharp text keeps its darkest ink: a stretched texture would be grey throughout.
    EXPECT_GT(failed->CountNear(left, top + Scaled(300, scale), width, Scaled(60, scale), Ink, 24),
              Scaled(200, scale));

    // Exit's middle, (600, 519) units: pressing it there ends the program.
    ASSERT_TRUE(x.Click(left + Scaled(600, scale), top + Scaled(519, scale)));
    const auto code = program.WaitForExit(20s);
    ASSERT_TRUE(code) << "still running after a click on Exit";
    EXPECT_EQ(*code, 0) << program.Output();
}

INSTANTIATE_TEST_SUITE_P(Displays, DisplayScaleWindowTest,
                         ::testing::Values(ScaleCase{96, 1.0}, ScaleCase{120, 1.25},
                                           ScaleCase{144, 1.5}, ScaleCase{192, 2.0}),
                         PrintCase);

}  // namespace
}  // namespace vesk::test
