// Gathers a download's small pieces into large writes, and keeps the CRC-32 of every
// byte it handed to the file, so a finished file needs neither one write per piece
// nor a second read to check it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "DownloadSystem/Sha256Pipe.h"
#include "Platform/Crypto.h"
#include "Platform/Files.h"

namespace DownloadSystem {

class BufferedFileWriter {
public:
    // Large enough that a write costs little next to its bytes, small enough to stay in
    // the cache while the kernel copies it (larger buffers measured slower).
    static constexpr std::size_t BufferSize = 64 * 1024;

    // Writes into `file`, which must stay open while this object is used. `crcSoFar` is the
    // CRC-32 of the bytes the file already holds when it is continued, so Crc() covers it all.
    explicit BufferedFileWriter(Platform::File& file, std::uint32_t crcSoFar = 0);

    // Takes a piece; writes when the buffer is full. False when that write failed
    // (the error number is left for Platform::LastSystemError()); the buffered bytes are
    // dropped then, and the checksum no longer tells the file's contents (HasFailed).
    bool Write(const void* data, std::size_t length);

    // Keeps the SHA-256 of the bytes given from now on, beside the CRC-32. Each written
    // block is hashed on a thread of its own while the next one is gathered.
    void KeepSha256() { sha256_ = std::make_unique<Sha256Pipe>(); }
    // The SHA-256 of the bytes given since KeepSha256, after the last Flush; false when
    // none was kept or the hash failed.
    bool FinishSha256(Platform::Sha256Digest& digest) { return sha256_ && sha256_->Finish(digest); }

    // Writes what is buffered; false when that write failed. The caller closes the file.
    bool Flush();

    // True once any write failed: the file then may not hold what was given.
    bool HasFailed() const { return failed_; }
    // The CRC-32 of every byte given so far (after `crcSoFar`); meaningful only when nothing failed
    // and the last bytes were flushed.
    std::uint32_t Crc() const { return crc_; }

private:
    Platform::File& file_;
    std::vector<std::uint8_t> buffer_;
    std::uint32_t crc_ = 0;
    std::unique_ptr<Sha256Pipe> sha256_;
    bool failed_ = false;
};

}  // namespace DownloadSystem
