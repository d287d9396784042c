// The release description the packer writes and the server reads: what the
// download service answers for a release, and where its files lie.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

namespace Tools {

// Descriptions live in this folder of the content root, one file per release
// named <release>.json. The server never serves this folder: it holds the
// signing secrets.
inline constexpr const char* kReleasesFolder = "releases";

struct ReleaseDescription {
    std::string release;         // release name the client sends ("Sorvan_9_5")
    std::string productCode;     // "product_code"
    std::string companyName;     // "company_name"
    std::string downloadSubdir;  // "download_subdir": folder of the files below the content root
    std::string hostName;        // "host_name": content host the client fetches from
    std::string sasToken;        // "SAS": query text, or the signing secret on signed hosts
    std::uint64_t fileCount = 0;
    std::uint64_t totalBytes = 0;

    // The client signs its paths when the token is set and the host carries the marker.
    bool IsSigned(const std::string& marker) const {
        return !sasToken.empty() && !marker.empty() && hostName.find(marker) != std::string::npos;
    }
    std::string FileListName() const { return release + ".txt"; }
};

std::filesystem::path DescriptionPath(const std::filesystem::path& contentRoot,
                                      const std::string& release);

// The description file's JSON text (pretty, ends with a newline).
std::string ToJsonText(const ReleaseDescription& description);

// Reads and checks a description file: all keys strings of the right kind, a
// valid release name and sub-directory. False with `error` set otherwise.
bool LoadDescription(const std::filesystem::path& path, ReleaseDescription& description,
                     std::string& error);

}  // namespace Tools
