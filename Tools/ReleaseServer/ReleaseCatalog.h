// The releases the server offers: the description files in the content root's
// "releases" folder, reloaded whenever that folder changes.
#pragma once

#include <ctime>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "ReleaseDescription.h"

namespace Tools {

class ReleaseCatalog {
public:
    using Releases = std::vector<ReleaseDescription>;
    using LogFunction = std::function<void(const std::string&)>;

    ReleaseCatalog(std::filesystem::path contentRoot, LogFunction log);

    // The current releases, reloading them first when the folder changed since
    // the last look. Safe from any thread; the snapshot stays valid while held.
    std::shared_ptr<const Releases> Snapshot();

    std::optional<ReleaseDescription> Find(const std::string& release);

private:
    std::shared_ptr<const Releases> Load() const;

    std::filesystem::path contentRoot_;
    LogFunction log_;
    std::mutex mutex_;
    std::shared_ptr<const Releases> releases_;
    std::optional<std::filesystem::file_time_type> loadedStamp_;
};

}  // namespace Tools
