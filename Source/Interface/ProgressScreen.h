// The right-hand panel while the download runs: heading, progress bar with its percentage,
// and the verification status or the table of figures with the pause button. The pure
// rules of the panel are here so they can be checked without a window.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "DownloadSystem/SpeedMeter.h"
#include "Interface/WindowFadeIn.h"

namespace vesk {

struct ProgressSnapshot;
class Texture;
class WindowDrag;

// The bar's geometry for a window `windowWidth` wide: 40 % of it, centred on the right half.
struct ProgressBarLayout {
    float left = 0.0f;
    float top = 400.0f;
    float width = 0.0f;
    float height = 14.0f;
};
ProgressBarLayout LayoutProgressBar(float windowWidth);

// "42%" for 0.427: the whole percent, truncated; "53%" for 53 / 100.0f, whose float is a
// hair below 0.53.
std::string ProgressPercentText(float progress);

// The percentage is drawn dark while its left edge lies right of the filled part's end;
// once the fill has reached it, the part over the fill is white and the rest stays dark.
bool IsPercentTextDark(const ProgressBarLayout& bar, float progress, float textWidth);

// "1h : 2m : 5s": plain decimals without padding.
std::string FormatRemainingTime(const DownloadSystem::RemainingTime& remaining);

// The panel's state: the bar's position and the table's figures as last read (at most once
// a second), and the fade-in of the download screens (the slideshow beside the panel, and
// the error screen that replaces it, go by the same fade).
class ProgressScreen {
public:
    WindowFadeIn& Fade() { return fade_; }

    // Whether the next snapshot is to read the table's figures (at `now`, the frame clock's
    // elapsed seconds).
    bool FiguresDue(float now) const { return refreshed_ && now - lastRefresh_ > 1.0f; }

    // Draws the panel from `snapshot`. `togglePause` pauses or resumes the download and
    // returns the new pause state.
    void Draw(const ProgressSnapshot& snapshot, float now, const std::shared_ptr<Texture>& header,
              int edition, WindowDrag& drag, const std::function<bool()>& togglePause);

private:
    float progress_ = 0.0f;
    bool refreshed_ = false;
    float lastRefresh_ = 0.0f;
    std::string folderText_;
    std::uint64_t totalBytes_ = 0;
    std::uint64_t bytesDone_ = 0;
    std::uint32_t speed_ = 0;
    DownloadSystem::RemainingTime remaining_;
    WindowFadeIn fade_;
};

}  // namespace vesk
