// The right-hand panel while the download runs: heading, progress bar with its percentage,
// and the verification status or the table of figures with the pause button. The pure
// rules of the panel are here so they can be checked without a window.
#pragma once

#include <string>

namespace DownloadSystem {
struct RemainingTime;
}

namespace vesk {

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

}  // namespace vesk
