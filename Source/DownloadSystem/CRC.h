// CRC-32 (the reflected 0x04C11DB7 checksum that zlib and PNG use) over memory and over files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace Platform {
class File;
class Sha256;
}  // namespace Platform

namespace DownloadSystem {

// Each user owns its own object. The checksum comes from the engine's one CRC-32
// routine (Crc32Routine.h), which keeps no state, so an object is ready at once.
class CRC {
public:
    CRC() = default;
    virtual ~CRC() = default;

    // Kept for callers written against a table-driven checksum: the routine needs no
    // table of its own, so there is nothing to build.
    void BuildTable() {}

    // The CRC-32 of `length` bytes; 0 for no bytes or a negative length.
    // Check value: "123456789" gives 0xCBF43926.
    std::uint32_t Compute(const void* data, std::int32_t length) const;

    // Running form for data that comes in pieces: start from 0, feed each piece with the
    // previous result; the last result is the CRC-32 of all pieces together.
    std::uint32_t Extend(std::uint32_t crc, const void* data, std::size_t length) const;

    // The CRC-32 of a whole file, read in blocks so memory stays small whatever its size.
    // False when the file cannot be opened or read; nothing is logged here.
    bool ComputeFile(const std::u16string& path, std::uint32_t& crc) const;

    // The same over an open file from its current position to its end; `bytes` is how much
    // was read. On a failed read the system's error stays for the caller to fetch. When
    // `sha256` is given it is fed the same blocks, so one read gives both checksums; a
    // failing hash fails the call.
    bool ComputeOpenFile(Platform::File& file, std::uint32_t& crc, std::uint64_t& bytes,
                         Platform::Sha256* sha256 = nullptr) const;
};

}  // namespace DownloadSystem
