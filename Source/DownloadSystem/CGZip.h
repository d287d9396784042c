// Writes a gzip file through zlib's gz functions (gzopen, gzsetparams, gzwrite, gzclose).
// Failures are returned as false; nothing is logged here.
#pragma once

#include <string>
#include <string_view>

#include "DownloadSystem/CZipper.h"

struct gzFile_s;

namespace zlib {

class CGZip : public CZipper {
public:
    CGZip() = default;
    // Closes a file that is still open, so a complete stream is left on disk.
    ~CGZip() override;
    CGZip(const CGZip&) = delete;
    CGZip& operator=(const CGZip&) = delete;

    // Opens `path` for writing (mode ModeWrite; other modes are refused) and applies the
    // stored level and strategy. False when a file is already open (it stays open) or the
    // file cannot be created.
    bool Open(const std::u16string& path, int mode);

    bool Close() override;
    bool IsOpen() const override { return file_ != nullptr; }
    bool Write(const void* bytes, unsigned int length) override;
    bool WriteString(const char16_t* text) override;
    bool WriteString(std::u16string_view text) override;
    void ApplyParameters() override;

private:
    gzFile_s* file_ = nullptr;
};

}  // namespace zlib
