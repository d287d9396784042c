// The manifest request: a form post to the download service answered with JSON that
// says where the release's files lie and how they are named, and the signed-path rule
// for content hosts that check signed paths. Runs on the caller's thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "DownloadSystem/Manifest.h"

namespace DownloadSystem {

// Why no manifest came back, with the text the caller is given.
struct ManifestFailure {
    enum class Kind {
        // The service could not be reached or answered other than 200.
        ServiceStatus,
        // The reply was cut, stalled or ran past its cap.
        ReplyIncomplete,
        // The service answered with an "error_info" text (then `text` is that text).
        Refused,
    };
    Kind kind = Kind::ServiceStatus;
    std::u16string text;
};

// A manifest or the reason there is none.
struct ManifestOutcome {
    std::optional<Manifest> manifest;
    ManifestFailure failure;

    bool Succeeded() const { return manifest.has_value(); }
};

class ManifestRequest {
public:
    explicit ManifestRequest(std::u16string computerId) : computerId_(std::move(computerId)) {}

    // Posts the request for `releaseName` and reads the reply. `previous` is the manifest
    // held so far: a reply whose reading breaks off keeps what it had not yet replaced.
    ManifestOutcome Send(const std::u16string& releaseName, const Manifest& previous) const;

    // The reply half: logs the text, reads "error_info" and the manifest keys (text that
    // is not JSON counts as an object without members) and applies the signed-path rule.
    static ManifestOutcome ReadReply(const std::string& text, const Manifest& previous);

    // The path that replaces the sub-directory on hosts that check signed paths:
    // sig + "," + expiry + "/" + lower-cased sub-directory, where sig is the Base64 MD5
    // of expiry + "/" + sub-directory (as received) + token, with "/" as "_" and "+"
    // as "-".
    static std::u16string SignSubdirectory(const std::u16string& subdir,
                                           const std::u16string& token, std::uint32_t expiry);

private:
    std::u16string computerId_;
};

}  // namespace DownloadSystem
