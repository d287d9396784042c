// The progress panel: drawn every frame from the stored progress; the figures are read
// from the download engine at most once a second.
#include "ProgressScreen.h"

#include <imgui.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "Interface/CoreUI.h"
#include "Interface/IApplicationWindow.h"
#include "Interface/ProgressSnapshot.h"
#include "Interface/ScreenStyle.h"
#include "Interface/Texture.h"
#include "Interface/WindowDrag.h"
#include "Support/Formatting.h"
#include "Support/StringUtils.h"

namespace vesk {

namespace {

constexpr const char* PlayGlyph = "\xef\x81\x8b";   // U+F04B
constexpr const char* PauseGlyph = "\xef\x81\x8c";  // U+F04C

void DrawHeaderImage(const std::shared_ptr<Texture>& header, float windowWidth) {
    if (!header) {
        return;
    }
    const float w = static_cast<float>(header->GetWidth());
    const float h = static_cast<float>(header->GetHeight());
    ImGui::GetWindowDrawList()->AddImage(header->GetHandle(), ImVec2(w, 0.0f),
                                         ImVec2(windowWidth, h), ImVec2(0, 0), ImVec2(1, 1),
                                         White());
}

}  // namespace

ProgressBarLayout LayoutProgressBar(float windowWidth) {
    ProgressBarLayout bar;
    bar.width = windowWidth * 0.4f;
    bar.left = windowWidth * 0.75f - bar.width / 2.0f;
    return bar;
}

std::string ProgressPercentText(float progress) {
    // The progress is a whole percent divided by 100 (0.53f is 0.52999997), so it is first
    // rounded to hundredths of a percent, then truncated to the whole percent in integers.
    const long hundredths = std::lround(std::clamp(progress, 0.0f, 1.0f) * 10000.0f);
    return std::to_string(hundredths / 100) + "%";
}

bool IsPercentTextDark(const ProgressBarLayout& bar, float progress, float textWidth) {
    const float textLeft = bar.left + bar.width / 2.0f - textWidth / 2.0f;
    return textLeft > bar.left + bar.width * progress;
}

std::string FormatRemainingTime(const DownloadSystem::RemainingTime& remaining) {
    return std::to_string(remaining.hours) + "h : " + std::to_string(remaining.minutes) +
           "m : " + std::to_string(remaining.seconds) + "s";
}

void ProgressScreen::Draw(const ProgressSnapshot& snapshot, float now,
                          const std::shared_ptr<Texture>& header, int edition, WindowDrag& drag,
                          const std::function<bool()>& togglePause) {
    const float alpha = fade_.Alpha();
    IApplicationWindow* window = GetApplicationWindow();
    if (!CoreUI::Get()->IsInitialized() || window == nullptr) {
        return;
    }
    const float W = static_cast<float>(window->GetWidth());
    const float H = static_cast<float>(window->GetHeight());
    ImDrawList* draw = ImGui::GetWindowDrawList();

    DrawHeaderImage(header, W);

    const std::string heading =
        std::string("Please wait while we download Sorvan") + (edition != 0 ? " Oskel..." : "...");
    const ImVec2 headingSize = MeasureText(3, 20.0f, heading.c_str());
    DrawText(3, 20.0f, ImVec2(W * 0.75f - headingSize.x / 2.0f, 369.0f), DarkText(alpha),
             heading.c_str());

    const ProgressBarLayout bar = LayoutProgressBar(W);
    draw->AddRectFilled(ImVec2(bar.left - 1.0f, bar.top - 1.0f),
                        ImVec2(bar.left + bar.width + 1.0f, bar.top + bar.height + 1.0f),
                        White(alpha));
    draw->AddRectFilled(ImVec2(bar.left, bar.top),
                        ImVec2(bar.left + bar.width * progress_, bar.top + bar.height),
                        Accent(alpha));
    const std::string percent = ProgressPercentText(progress_);
    const ImVec2 percentSize = MeasureText(2, 16.0f, percent.c_str());
    const ImVec2 percentAt(bar.left + bar.width / 2.0f - percentSize.x / 2.0f, 399.0f);
    // A percentage that straddles the fill's end is white over the fill and dark beyond it;
    // in one colour, part of it would vanish into the bar or the panel behind it.
    const float fillEnd = bar.left + bar.width * progress_;
    const float textTop = percentAt.y - 2.0f;
    const float textBottom = percentAt.y + percentSize.y + 2.0f;
    if (!IsPercentTextDark(bar, progress_, percentSize.x)) {
        draw->PushClipRect(ImVec2(percentAt.x - 2.0f, textTop), ImVec2(fillEnd, textBottom), true);
        DrawText(2, 16.0f, percentAt, White(alpha), percent.c_str());
        draw->PopClipRect();
    }
    if (fillEnd < percentAt.x + percentSize.x) {
        draw->PushClipRect(ImVec2(fillEnd, textTop),
                           ImVec2(percentAt.x + percentSize.x + 2.0f, textBottom), true);
        DrawText(2, 16.0f, percentAt, DarkText(alpha), percent.c_str());
        draw->PopClipRect();
    }

    if (!snapshot.hasManager) {
        return;
    }
    if (snapshot.verifying) {
        // Verification may move the bar back: it shows its own percentage.
        progress_ = std::clamp(static_cast<float>(snapshot.verifyPercent) / 100.0f, 0.0f, 1.0f);
        const std::u16string& file = snapshot.currentFile;
        const std::string text = file.empty() ? std::string("Verifying setup...")
                                              : "Verifying file: " + StringUtils::ToNarrow(file);
        const float wrap = ImGui::GetWindowWidth() / 2.0f;
        const ImVec2 size = MeasureText(2, 16.0f, text.c_str(), wrap);
        DrawText(2, 16.0f, ImVec2(ImGui::GetWindowWidth() * 0.75f - size.x / 2.0f, 490.0f),
                 DarkText(alpha), text.c_str(), wrap);
        return;
    }

    if (!refreshed_) {
        refreshed_ = true;
        lastRefresh_ = now;
    }
    if (snapshot.figuresRead) {
        folderText_ = StringUtils::ToNarrow(snapshot.folder);
        totalBytes_ = snapshot.totalBytes;
        bytesDone_ = snapshot.bytesDone;
        speed_ = snapshot.speed;
        remaining_ = snapshot.remaining;
        lastRefresh_ = now;
        // The bar never moves back while downloading.
        progress_ =
            std::max(progress_,
                     std::clamp(static_cast<float>(snapshot.progressPercent) / 100.0f, 0.0f, 1.0f));
    }

    const char* glyph = snapshot.paused ? PlayGlyph : PauseGlyph;
    const ImVec2 glyphSize = MeasureText(3, 20.0f, glyph);
    const ImVec2 glyphAt(W - glyphSize.x - 8.0f, H - glyphSize.y - 6.0f);
    bool hovered = false;
    bool held = false;
    if (drag.Button("PAUSE_BUTTON", glyphAt.x, glyphAt.y, glyphSize.x, glyphSize.y, hovered,
                    held)) {
        glyph = togglePause() ? PlayGlyph : PauseGlyph;
    }
    DrawText(3, 20.0f, glyphAt, hovered ? Accent(alpha) : DarkText(alpha), glyph);

    const std::string total = FormatByteSize(totalBytes_);
    const std::string done = FormatByteSize(bytesDone_);
    const std::string speed = FormatByteSize(speed_) + "/s";
    const std::string remaining = FormatRemainingTime(remaining_);
    ImGui::PushStyleColor(ImGuiCol_Text, DarkText(alpha));
    ImGui::SetCursorPos(ImVec2(bar.left, 490.0f));
    ImGui::BeginGroup();
    for (const char* label : {"Sorvan Installer:", "Download Size:", "Total Downloaded:",
                              "Download Speed:", "Time Remaining:"}) {
        ImGui::TextUnformatted(label);
    }
    ImGui::EndGroup();
    ImGui::SetCursorPos(ImVec2(bar.left + 145.0f, 490.0f));
    ImGui::BeginGroup();
    for (const std::string* value :
         {static_cast<const std::string*>(&folderText_), &total, &done, &speed, &remaining}) {
        ImGui::TextUnformatted(value->c_str());
    }
    ImGui::EndGroup();
    ImGui::PopStyleColor();
}

}  // namespace vesk
