// Turns a folder of release files into what the content server holds for the
// release: the file list text the client parses and the release description.
//
// The files lie in <content root>/<download sub-directory>; the list is written
// beside them as <release>.txt (with its signature, <release>.txt.sig, when a signing
// key is given) and the description to <content root>/releases/<release>.json.
// Nothing is written unless every file passes its checks and checksums.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ReleaseDescription.h"

namespace Tools {

struct PackOptions {
    std::filesystem::path contentRoot;
    ReleaseDescription release;  // every field but the counts
    std::string signedStorageMarker;
    // The publisher's private key; empty: the list goes out unsigned.
    std::filesystem::path signingKey;
    // The release version the signature carries; it must grow with every publication.
    std::uint64_t version = 0;
};

struct PackedFile {
    std::string name;
    std::uint64_t size = 0;
    std::uint32_t crc = 0;
    std::string sha256;  // 64 lower-case hex digits
};

struct PackProgress {
    std::size_t fileIndex = 0;  // 0-based index of the file being read
    std::size_t fileCount = 0;
    std::string name;
    std::uint64_t fileBytesDone = 0;
    std::uint64_t fileSize = 0;
    bool fileDone = false;
};

class ReleasePacker {
public:
    using ProgressCallback = std::function<void(const PackProgress&)>;

    // The largest file the client can take: its list sizes are 32-bit.
    static constexpr std::uint64_t kMaxFileSize = 0xFFFFFFFFull;

    explicit ReleasePacker(PackOptions options);

    // Called while files are read: after every read block and when a file is done.
    void SetProgress(ProgressCallback callback) { progress_ = std::move(callback); }

    // Checks the options and every file, checksums them in name order and writes
    // the list and the description. False with `error` (one line per problem)
    // when anything is refused or fails; nothing is written then.
    bool Pack(std::string& error);

    const std::vector<PackedFile>& Files() const { return files_; }
    const ReleaseDescription& Description() const { return options_.release; }
    std::filesystem::path FolderPath() const;
    std::filesystem::path FileListPath() const;
    std::filesystem::path SignaturePath() const;

    // The list text: for each file name, "\r\n", size, "\r\n", CRC-32 as a signed
    // 32-bit decimal, "\r\n", SHA-256 in hex, ";". Clients that know only three
    // fields keep the fourth and never read it.
    static std::string FormatFileList(const std::vector<PackedFile>& files);

private:
    bool CheckOptions(std::string& error) const;
    bool ScanFolder(std::vector<PackedFile>& files, std::string& error) const;
    bool Checksum(PackedFile& file, std::size_t index, std::size_t count, std::string& error) const;

    PackOptions options_;
    ProgressCallback progress_;
    std::vector<PackedFile> files_;
};

}  // namespace Tools
