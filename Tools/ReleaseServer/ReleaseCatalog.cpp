// Loading release descriptions; a broken description is logged and skipped.
#include "ReleaseCatalog.h"

#include <algorithm>

namespace Tools {
namespace fs = std::filesystem;

ReleaseCatalog::ReleaseCatalog(fs::path contentRoot, LogFunction log)
    : contentRoot_(std::move(contentRoot)),
      log_(std::move(log)),
      releases_(std::make_shared<Releases>()) {}

std::shared_ptr<const ReleaseCatalog::Releases> ReleaseCatalog::Load() const {
    auto releases = std::make_shared<Releases>();
    std::error_code ec;
    for (fs::directory_iterator it(contentRoot_ / kReleasesFolder, ec), end; !ec && it != end;
         it.increment(ec)) {
        if (it->path().extension() != ".json" || it->path().filename().string()[0] == '.') {
            continue;
        }
        ReleaseDescription description;
        std::string error;
        if (!LoadDescription(it->path(), description, error)) {
            log_("skipping release description: " + error);
            continue;
        }
        if (description.release + ".json" != it->path().filename().string()) {
            log_("skipping release description " + it->path().string() + ": it describes " +
                 description.release);
            continue;
        }
        releases->push_back(std::move(description));
    }
    std::sort(releases->begin(), releases->end(),
              [](const auto& a, const auto& b) { return a.release < b.release; });
    return releases;
}

std::shared_ptr<const ReleaseCatalog::Releases> ReleaseCatalog::Snapshot() {
    // The packer moves finished descriptions into place, which changes the
    // folder's modification time.
    std::error_code ec;
    auto stamp = fs::last_write_time(contentRoot_ / kReleasesFolder, ec);
    std::lock_guard lock(mutex_);
    if (ec) {
        if (loadedStamp_) {
            releases_ = std::make_shared<Releases>();
            loadedStamp_.reset();
        }
        return releases_;
    }
    if (!loadedStamp_ || *loadedStamp_ != stamp) {
        releases_ = Load();
        loadedStamp_ = stamp;
    }
    return releases_;
}

std::optional<ReleaseDescription> ReleaseCatalog::Find(const std::string& release) {
    auto releases = Snapshot();
    for (const ReleaseDescription& d : *releases) {
        if (d.release == release) {
            return d;
        }
    }
    return std::nullopt;
}

}  // namespace Tools
