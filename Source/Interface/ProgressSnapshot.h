// What the progress screen shows of the download in one frame, read from the engine by the
// controller in one go.
#pragma once

#include <cstdint>
#include <string>

#include "DownloadSystem/SpeedMeter.h"

namespace vesk {

struct ProgressSnapshot {
    // False before the engine has its manager: nothing below is read.
    bool hasManager = false;
    // While verifying only the verification's own figures are read.
    bool verifying = false;
    std::uint64_t verifyPercent = 0;
    std::u16string currentFile;
    // The table's figures, read only when asked for: reading the speed advances its meter.
    bool figuresRead = false;
    std::u16string folder;
    std::uint64_t totalBytes = 0;
    std::uint64_t bytesDone = 0;
    std::uint32_t speed = 0;
    DownloadSystem::RemainingTime remaining;
    int progressPercent = 0;
    bool paused = false;
};

}  // namespace vesk
