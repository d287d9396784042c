// Content path mapping and access rules.
#include "ContentAccess.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <vector>

#include "PercentDecoding.h"
#include "SignedPath.h"

namespace Tools {
namespace fs = std::filesystem;

namespace {

using Segments = std::vector<std::string>;

// Splits on "/", dropping empty segments: the client may send "//" when a
// prefix of its path is empty.
Segments Split(const std::string& path) {
    Segments segments;
    size_t start = 0;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos) {
            slash = path.size();
        }
        if (slash > start) {
            segments.push_back(path.substr(start, slash - start));
        }
        start = slash + 1;
    }
    return segments;
}

std::string Lowered(std::string text) {
    for (char& c : text) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return text;
}

// True when `path` starts with the release's sub-directory segments.
bool UnderFolder(const Segments& path, const Segments& folder, bool ignoreCase, size_t offset) {
    if (path.size() <= offset + folder.size()) {
        return false;  // the folder itself, or shorter: no file named
    }
    for (size_t i = 0; i < folder.size(); ++i) {
        const std::string& a = path[offset + i];
        if (ignoreCase ? Lowered(a) != Lowered(folder[i]) : a != folder[i]) {
            return false;
        }
    }
    return true;
}

// "<signature>,<expiry>" with a decimal expiry of at most 10 digits.
bool ParseSignedSegment(const std::string& segment, std::string& signature, std::string& expiry) {
    size_t comma = segment.find(',');
    if (comma == std::string::npos || comma == 0) {
        return false;
    }
    signature = segment.substr(0, comma);
    expiry = segment.substr(comma + 1);
    return !expiry.empty() && expiry.size() <= 10 &&
           std::all_of(expiry.begin(), expiry.end(),
                       [](char c) { return std::isdigit(static_cast<unsigned char>(c)); });
}

ContentDecision Refuse(int status, std::string reason) {
    ContentDecision decision;
    decision.status = status;
    decision.reason = std::move(reason);
    return decision;
}

}  // namespace

ContentAccess::ContentAccess(fs::path contentRoot, std::string signedStorageMarker,
                             ReleaseCatalog& catalog)
    : contentRoot_(std::move(contentRoot)),
      marker_(std::move(signedStorageMarker)),
      catalog_(catalog) {}

ContentDecision ContentAccess::Decide(const std::string& target, std::int64_t now) const {
    auto releases = catalog_.Snapshot();

    // A release with a SAS token (and no signing) gets object names ending with
    // the token verbatim; take it off before mapping the path.
    const ReleaseDescription* tokenRelease = nullptr;
    std::string object = target;
    for (const ReleaseDescription& r : *releases) {
        if (!r.sasToken.empty() && !r.IsSigned(marker_) && target.size() > r.sasToken.size() &&
            target.compare(target.size() - r.sasToken.size(), r.sasToken.size(), r.sasToken) == 0) {
            tokenRelease = &r;
            object = target.substr(0, target.size() - r.sasToken.size());
            break;
        }
    }
    object = object.substr(0, object.find('?'));
    std::string decoded;
    if (!PercentDecode(object, false, decoded)) {
        return Refuse(400, "malformed escape in the path");
    }
    Segments path = Split(decoded);
    if (path.empty()) {
        return Refuse(404, "no file named");
    }
    for (const std::string& segment : path) {
        if (segment[0] == '.' || segment.find('\\') != std::string::npos ||
            segment.find('\0') != std::string::npos) {
            return Refuse(404, "hidden or unsafe path segment");
        }
    }
    if (Lowered(path[0]) == kReleasesFolder) {
        return Refuse(404, "release descriptions are not served");
    }

    fs::path relative;
    const ReleaseDescription* owner = nullptr;
    std::string signature;
    std::string expiry;
    if (ParseSignedSegment(path[0], signature, expiry)) {
        // The client lower-cases the sub-directory after signing it, so match
        // it without case and check the signature over the described spelling.
        for (const ReleaseDescription& r : *releases) {
            if (r.IsSigned(marker_) && UnderFolder(path, Split(r.downloadSubdir), true, 1)) {
                owner = &r;
                break;
            }
        }
        if (owner == nullptr) {
            return Refuse(403, "signed path outside any signed release");
        }
        if (std::stoll(expiry) < now) {
            return Refuse(403, "signature expired at " + expiry);
        }
        if (!SignaturesEqual(signature,
                             SignatureFor(expiry, owner->downloadSubdir, owner->sasToken))) {
            return Refuse(403, "bad signature for release " + owner->release);
        }
        relative = owner->downloadSubdir;
        for (size_t i = 1 + Split(owner->downloadSubdir).size(); i < path.size(); ++i) {
            relative /= path[i];
        }
    } else {
        for (const ReleaseDescription& r : *releases) {
            if (UnderFolder(path, Split(r.downloadSubdir), false, 0)) {
                owner = &r;
                break;
            }
        }
        if (owner != nullptr && owner->IsSigned(marker_)) {
            return Refuse(403, "release " + owner->release + " is served on signed paths only");
        }
        if (owner != nullptr && !owner->sasToken.empty() && owner != tokenRelease) {
            return Refuse(403, "missing SAS token of release " + owner->release);
        }
        for (const std::string& segment : path) {
            relative /= segment;
        }
    }

    // Symbolic links must not lead out of the content root.
    std::error_code ec;
    fs::path root = fs::weakly_canonical(contentRoot_, ec);
    fs::path file = fs::weakly_canonical(contentRoot_ / relative, ec);
    if (ec || !fs::is_regular_file(file, ec)) {
        return Refuse(404, "no such file");
    }
    auto mismatch = std::mismatch(root.begin(), root.end(), file.begin(), file.end());
    if (mismatch.first != root.end()) {
        return Refuse(404, "outside the content root");
    }
    // Whatever path or link led here, the descriptions (and anything hidden)
    // stay unserved: check the resolved path, not the requested one.
    for (auto part = mismatch.second; part != file.end(); ++part) {
        std::string name = part->string();
        if (name.empty() || name[0] == '.' || Lowered(name) == kReleasesFolder) {
            return Refuse(404, "release descriptions are not served");
        }
    }
    fs::path descriptions = fs::weakly_canonical(contentRoot_ / kReleasesFolder, ec);
    if (!ec) {
        auto inside =
            std::mismatch(descriptions.begin(), descriptions.end(), file.begin(), file.end());
        if (inside.first == descriptions.end()) {
            return Refuse(404, "release descriptions are not served");
        }
    }
    ContentDecision decision;
    decision.status = 200;
    decision.file = file;
    decision.root = root;
    return decision;
}

int ContentAccess::Open(const ContentDecision& decision) {
    if (decision.status != 200 || decision.root.empty()) {
        return -1;
    }
    auto part = std::mismatch(decision.root.begin(), decision.root.end(), decision.file.begin(),
                              decision.file.end());
    if (part.first != decision.root.end() || part.second == decision.file.end()) {
        return -1;
    }
    int folder = open(decision.root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    for (auto name = part.second; folder >= 0 && name != decision.file.end();) {
        auto next = std::next(name);
        const bool last = next == decision.file.end();
        int opened =
            openat(folder, name->c_str(),
                   (last ? O_RDONLY | O_NONBLOCK : O_PATH | O_DIRECTORY) | O_NOFOLLOW | O_CLOEXEC);
        close(folder);
        folder = opened;
        name = next;
    }
    struct stat info {};
    if (folder >= 0 && (fstat(folder, &info) != 0 || !S_ISREG(info.st_mode))) {
        close(folder);
        folder = -1;
    }
    return folder;
}

}  // namespace Tools
