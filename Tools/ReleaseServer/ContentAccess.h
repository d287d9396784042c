// Decides what a content request may read: maps the request target onto a file
// below the content root and enforces each release's access rule (signed paths
// on signed hosts, the SAS suffix on others).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "ReleaseCatalog.h"

namespace Tools {

struct ContentDecision {
    int status = 404;            // 200 when `file` may be served, else the refusal's status
    std::filesystem::path file;  // the file to serve when status is 200
    std::filesystem::path root;  // the content root it was found below, resolved
    std::string reason;          // why a request was refused, for the request log
};

class ContentAccess {
public:
    ContentAccess(std::filesystem::path contentRoot, std::string signedStorageMarker,
                  ReleaseCatalog& catalog);

    // `target` is the raw request target (path and query, still percent-encoded);
    // `now` is the current time in seconds since 1970 UTC. The releases folder
    // and hidden names are never served; a path below a signed release needs a
    // valid, unexpired signature (403 otherwise); a path below a release with a
    // SAS token must end with that token (403 otherwise).
    ContentDecision Decide(const std::string& target, std::int64_t now) const;

    // Opens the file a decision allows for reading, walking its resolved path
    // below the root one folder at a time without following any link, so a
    // link swapped into the tree after the decision leads nowhere. -1 when
    // that fails or the file is not a regular file.
    static int Open(const ContentDecision& decision);

private:
    std::filesystem::path contentRoot_;
    std::string marker_;
    ReleaseCatalog& catalog_;
};

}  // namespace Tools
