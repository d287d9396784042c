// The download worker's callback interface and its state values.
#pragma once

#include <cstdint>

namespace DownloadSystem {

class FileDownload;

// State of a FileDownload. Finished only says that the run is over, not that it succeeded.
enum class DownloadState : std::int32_t {
    Idle = 0,         // constructed, or the run was ended by an exception
    Downloading = 6,  // a run is under way
    Finished = 7,     // the run is over
    WriteFailed = 8,  // the data or the part file could not be written (or opened)
};

// Both calls arrive on the worker's own thread.
class IDownloadListener {
public:
    virtual ~IDownloadListener() = default;
    // The run is over (state Finished).
    virtual void OnDownloadFinished(FileDownload* worker) = 0;
    // Bytes arrived (or, in memory mode, the final write failed).
    virtual void OnDownloadProgress(FileDownload* worker) = 0;
};

}  // namespace DownloadSystem
