// Fetching the interface's pictures on the asset thread and turning them into textures on
// the UI thread.
#include "InterfaceAssets.h"

#include <nlohmann/json.hpp>

#include <string_view>
#include <utility>

#include "DownloadSystem/FileDownload.h"
#include "Support/ErrorLog.h"
#include "Support/Formatting.h"
#include "Support/StringUtils.h"

namespace vesk {

namespace {

void Report(const std::string& message) {
    ReportError("DownloadManagerInterface::Init() -> " + message, 0, "", 0);
}

// One transfer into memory. `ok` is false when the run did not finish or brought nothing.
ByteBuffer Fetch(const std::u16string& server, const std::u16string& path, bool& ok,
                 DownloadSystem::DownloadState& state) {
    DownloadSystem::FileDownload download;
    download.SetServer(server);
    download.SetRemotePath(path);
    download.DownloadToMemory();
    state = download.GetState();
    ok = state == DownloadSystem::DownloadState::Finished && !download.GetData().Empty();
    return std::move(download.GetData());
}

template <typename Add>
void FetchGroup(const std::map<std::string, std::string>& members, const char* missingText,
                Add add) {
    if (members.empty()) {
        Report(missingText);
    }
    for (const auto& [key, url] : members) {
        const ImageLocation location = LocateImage(url);
        bool ok = false;
        DownloadSystem::DownloadState state = DownloadSystem::DownloadState::Idle;
        ByteBuffer bytes = Fetch(location.server, location.path, ok, state);
        if (!ok) {
            Report("failed to download texture: " + url + " - " +
                   std::to_string(static_cast<int>(state)));
        }
        // Kept also after a failure: decoding then fails and is reported as well.
        add(key, std::move(bytes));
    }
}

// The members of a group as key -> URL, in key order; values that are not strings count as
// empty URLs.
std::map<std::string, std::string> Members(const nlohmann::json& description, const char* group) {
    std::map<std::string, std::string> members;
    const auto found = description.find(group);
    if (found == description.end() || !found->is_object()) {
        return members;
    }
    for (const auto& [key, value] : found->items()) {
        members[key] = value.is_string() ? value.get<std::string>() : std::string();
    }
    return members;
}

}  // namespace

void InterfaceAssets::AddCoreImage(const std::string& key, ByteBuffer bytes) {
    coreImageBytes_[key] = std::move(bytes);
}

void InterfaceAssets::AddMediaImage(const std::string& key, ByteBuffer bytes) {
    mediaImageBytes_[key] = std::move(bytes);
}

bool InterfaceAssets::Process(const TextureLoader& load) {
    if (!IsFetched()) {
        return false;
    }
    if (!coreImageBytes_.empty()) {
        const auto first = coreImageBytes_.begin();
        const ByteBuffer& bytes = first->second;
        if (auto texture =
                load(first->first, bytes.Data(), static_cast<std::size_t>(bytes.Size()))) {
            coreTextures_[first->first] = std::move(texture);
        }
        coreImageBytes_.erase(first);
    }
    if (!mediaImageBytes_.empty()) {
        const auto first = mediaImageBytes_.begin();
        const ByteBuffer& bytes = first->second;
        if (auto texture =
                load(first->first, bytes.Data(), static_cast<std::size_t>(bytes.Size()))) {
            mediaTextures_.push_back(std::move(texture));
        }
        mediaImageBytes_.erase(first);
    }
    return coreImageBytes_.empty() && mediaImageBytes_.empty();
}

std::shared_ptr<Texture> InterfaceAssets::GetCoreTexture(const std::string& key) const {
    if (key.empty()) {
        return nullptr;
    }
    const auto found = coreTextures_.find(key);
    return found == coreTextures_.end() ? nullptr : found->second;
}

bool ReadInterfaceDescription(std::string_view text, InterfaceDescription& description) {
    description = {};
    if (text.empty()) {
        Report("json from server failed!");
        return false;
    }
    try {
        const nlohmann::json json = nlohmann::json::parse(text);
        description.core = Members(json, "core");
        description.media = Members(json, "media");
        return true;
    } catch (const nlohmann::json::exception& error) {
        Report(std::string("json failed to read: ") + error.what());
        return false;
    }
}

ImageLocation LocateImage(const std::string& url) {
    // Only the host (with its port) and the path are used: a query is not sent.
    const UrlParts parts = ParseUrl(StringUtils::ToWide(url));
    return {parts.port.empty() ? parts.host : parts.host + u":" + parts.port, parts.path};
}

void FetchInterfaceAssets(InterfaceAssets& assets, const std::u16string& host,
                          const std::u16string& version) {
    bool ok = false;
    DownloadSystem::DownloadState state = DownloadSystem::DownloadState::Idle;
    const ByteBuffer body = Fetch(host, u"/downloadmanager/" + version + u"/meta.json", ok, state);
    InterfaceDescription description;
    if (state == DownloadSystem::DownloadState::Finished &&
        ReadInterfaceDescription(body.AsText(), description)) {
        FetchGroup(description.core, "no core texture found!",
                   [&assets](const std::string& key, ByteBuffer bytes) {
                       assets.AddCoreImage(key, std::move(bytes));
                   });
        FetchGroup(description.media, "no media texture found!",
                   [&assets](const std::string& key, ByteBuffer bytes) {
                       assets.AddMediaImage(key, std::move(bytes));
                   });
    }
    assets.MarkFetched();
}

}  // namespace vesk
