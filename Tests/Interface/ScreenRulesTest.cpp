// The screens' rules that need no window: the splash's timing, the slideshow's order and
// crossfade, the progress bar's geometry and percentage colour, the remaining-time text and
// the download error screen's text, and which screen follows an engine outcome.
#include <gtest/gtest.h>

#include "DownloadSystem/SpeedMeter.h"
#include "Interface/DownloadManagerInterface.h"
#include "Interface/ErrorScreenText.h"
#include "Interface/ProgressScreen.h"
#include "Interface/Slideshow.h"
#include "Interface/SplashScreen.h"

namespace vesk {
namespace {

TEST(SplashScreenTest, LastsAtLeastFourThirdsOfASecondAndWaitsForThePictures) {
    float timer = 0.0f;
    int frames = 0;
    while (!IsSplashOver(timer, true)) {
        timer = AdvanceSplashTimer(timer, 0.01f);
        ++frames;
    }
    EXPECT_GE(frames, 133);
    EXPECT_LE(frames, 135);
    EXPECT_FALSE(IsSplashOver(100.0f, false));
    EXPECT_FALSE(IsSplashOver(2.0f, true));  // strictly past the minimum
}

TEST(SlideshowTest, StaysOnTheFirstSlideThenCrossfadesThroughAllAndWraps) {
    Slideshow show;
    show.Advance(1.0f, 1);  // one picture: nothing moves
    EXPECT_EQ(show.CurrentSlide(), 0);

    for (int i = 0; i < 14; ++i) {
        show.Advance(1.0f, 3);
    }
    EXPECT_EQ(show.CurrentSlide(), 0);
    EXPECT_EQ(show.Ease(), 0.0f);  // slot A (the first picture) fully shown

    show.Advance(1.5f, 3);  // the countdown runs out: towards slide 1
    EXPECT_EQ(show.CurrentSlide(), 1);
    EXPECT_EQ(show.SlotA(), 0);
    EXPECT_EQ(show.SlotB(), 1);
    show.Advance(0.5f, 3);
    EXPECT_NEAR(show.Ease(), 0.5f, 1e-4f);
    show.Advance(0.5f, 3);
    EXPECT_NEAR(show.Ease(), 1.0f, 1e-6f);

    for (int i = 0; i < 15; ++i) {
        show.Advance(1.0f, 3);  // next change fades back towards slot A, now slide 2
    }
    EXPECT_EQ(show.CurrentSlide(), 2);
    EXPECT_EQ(show.SlotA(), 2);
    EXPECT_EQ(show.SlotB(), 1);
    for (int i = 0; i < 16; ++i) {
        show.Advance(1.0f, 3);
    }
    EXPECT_EQ(show.CurrentSlide(), 0);  // wrapped
}

TEST(ProgressScreenTest, BarSitsOnTheRightHalf) {
    const ProgressBarLayout bar = LayoutProgressBar(1200.0f);
    EXPECT_EQ(bar.left, 660.0f);
    EXPECT_EQ(bar.top, 400.0f);
    EXPECT_EQ(bar.width, 480.0f);
    EXPECT_EQ(bar.height, 14.0f);
}

TEST(ProgressScreenTest, PercentageIsTruncatedAndTurnsWhiteOnceTheFillReachesIt) {
    EXPECT_EQ(ProgressPercentText(0.0f), "0%");
    EXPECT_EQ(ProgressPercentText(0.427f), "42%");
    EXPECT_EQ(ProgressPercentText(1.0f), "100%");
    // Every whole percent the engine reports shows as itself (53 / 100.0f is 0.52999997).
    for (int percent = 0; percent <= 100; ++percent) {
        EXPECT_EQ(ProgressPercentText(static_cast<float>(percent) / 100.0f),
                  std::to_string(percent) + "%");
    }
    EXPECT_EQ(ProgressPercentText(0.9999f), "99%");

    const ProgressBarLayout bar = LayoutProgressBar(1200.0f);
    const float width = 30.0f;  // text from x 885 to 915
    EXPECT_TRUE(IsPercentTextDark(bar, 0.0f, width));
    EXPECT_TRUE(IsPercentTextDark(bar, 0.46f, width));   // fill ends at 880.8
    EXPECT_FALSE(IsPercentTextDark(bar, 0.47f, width));  // fill ends at 885.6
    EXPECT_FALSE(IsPercentTextDark(bar, 0.5f, width));
    EXPECT_FALSE(IsPercentTextDark(bar, 1.0f, width));
}

TEST(ProgressScreenTest, RemainingTimeIsPlainDecimalsWithoutPadding) {
    EXPECT_EQ(FormatRemainingTime(DownloadSystem::ComputeRemainingTime(0, 3725, 1)),
              "1h : 2m : 5s");
    EXPECT_EQ(FormatRemainingTime({}), "0h : 0m : 0s");
    EXPECT_EQ(FormatRemainingTime({100, 0, 9}), "100h : 0m : 9s");
}

// The download error screen never stays empty when the log knows why the download ended.
TEST(ErrorScreenTextTest, SaysWhyOrThatSetupWasStarted) {
    const std::string noLonger =
        "This version of Sorvan can no longer be downloaded.\r\nPlease download the latest "
        "version you received in an e-mail message";
    struct Row {
        const char* name;
        std::string userMessage;
        std::vector<std::string> errors;
        bool setupStarted;
        std::string shown;
    };
    const std::vector<Row> rows = {
        {"user message wins", "Failed to run setup.", {"x"}, false, "Failed to run setup."},
        {"withdrawn release", "", {"earlier failure", noLonger}, false, noLonger},
        {"refused list",
         "",
         {"DownloadManager::FetchFileList the file list names a file outside the download "
          "folder: \"../x\""},
         false,
         "The download could not be completed: the file list names a file outside the "
         "download folder: \"../x\""},
        {"arrow prefix",
         "",
         {"Texture::LoadTexture -> failed loading a"},
         false,
         "The download could not be completed: failed loading a"},
        {"setup started after errors",
         "",
         {"Response status not 200, but 503"},
         true,
         "Sorvan setup has been started. Errors occurred during the download but were "
         "resolved. Press Exit to send the download log to our Support Center."},
        {"nothing known", "", {}, false, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(DownloadErrorScreenText(row.userMessage, row.errors, row.setupStarted),
                  row.shown);
    }

    nlohmann::json log = nlohmann::json::array();
    log.push_back({{"error_number", 12002}});
    EXPECT_FALSE(WasSetupStartedAfterErrors(log));
    log.push_back({{"error_number", -32763}});
    EXPECT_TRUE(WasSetupStartedAfterErrors(log));
    EXPECT_FALSE(WasSetupStartedAfterErrors(nlohmann::json::object()));
}

// Errors logged on the way never decide the screen alone: a refused manifest always sends
// the user to support, and errors that the passes resolved still show once the download ended.
TEST(ScreenFlowTest, ScreenFollowsTheManifestThenTheDownloadsEnd) {
    struct Row {
        const char* name;
        EngineOutcome outcome;
        WindowScreen screen;
    };
    const std::vector<Row> rows = {
        {"request under way", {false, false, false, 3}, WindowScreen::Splash},
        {"manifest refused", {true, false, false, 0}, WindowScreen::RequestFailed},
        {"manifest refused with errors", {true, false, true, 2}, WindowScreen::RequestFailed},
        {"downloading", {true, true, false, 0}, WindowScreen::Progress},
        {"downloading after errors", {true, true, false, 4}, WindowScreen::Progress},
        {"ended cleanly", {true, true, true, 0}, WindowScreen::Closed},
        {"ended with errors", {true, true, true, 1}, WindowScreen::DownloadError},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(DownloadManagerInterface::ScreenAfter(row.outcome), row.screen);
    }
}

}  // namespace
}  // namespace vesk
