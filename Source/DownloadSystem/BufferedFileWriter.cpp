// Buffered writing with a running CRC-32 of the written bytes.
#include "DownloadSystem/BufferedFileWriter.h"

#include <utility>

#include "DownloadSystem/Crc32Routine.h"

namespace DownloadSystem {

BufferedFileWriter::BufferedFileWriter(Platform::File& file, std::uint32_t crcSoFar)
    : file_(file), crc_(crcSoFar) {
    buffer_.reserve(BufferSize);
}

bool BufferedFileWriter::Write(const void* data, std::size_t length) {
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    // Checked while the piece is still in the cache; a failed write makes the checksum
    // meaningless anyway (HasFailed).
    crc_ = ExtendCrc32(crc_, bytes, length);
    while (length > 0) {
        const std::size_t room = BufferSize - buffer_.size();
        const std::size_t take = length < room ? length : room;
        buffer_.insert(buffer_.end(), bytes, bytes + take);
        bytes += take;
        length -= take;
        if (buffer_.size() == BufferSize && !Flush())
            return false;
    }
    return true;
}

bool BufferedFileWriter::Flush() {
    if (buffer_.empty())
        return true;
    const bool written = file_.Write(buffer_.data(), buffer_.size());
    if (!written)
        failed_ = true;
    if (sha256_) {
        // The written block goes to the hashing thread; an empty one comes back.
        buffer_ = sha256_->Push(std::move(buffer_));
        buffer_.reserve(BufferSize);
    } else {
        buffer_.clear();
    }
    return written;
}

}  // namespace DownloadSystem
