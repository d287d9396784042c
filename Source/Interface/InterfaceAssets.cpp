// Fetching the interface's pictures on the asset thread and turning them into textures on
// the UI thread.
#include "InterfaceAssets.h"

#include <nlohmann/json.hpp>

#include <string_view>
#include <system_error>
#include <thread>
#include <utility>

#include "DownloadSystem/FileDownload.h"
#include "Support/ErrorLog.h"
#include "Support/Formatting.h"
#include "Support/StringUtils.h"

namespace vesk {

namespace {

// One transfer into memory. `ok` is false when the run did not finish or brought nothing,
// or when it was not started because the UI thread gave up.
ByteBuffer Fetch(InterfaceAssets& assets, const std::u16string& server, const std::u16string& path,
                 bool& ok, DownloadSystem::DownloadState& state) {
    // Shared: a stop requested by GiveUp may still hold it when this transfer returns.
    const auto download = std::make_shared<DownloadSystem::FileDownload>();
    download->SetServer(server);
    download->SetRemotePath(path);
    ok = false;
    state = DownloadSystem::DownloadState::Idle;
    if (!assets.BeginTransfer(download)) {
        return {};
    }
    download->DownloadToMemory();
    assets.EndTransfer();
    state = download->GetState();
    ok = state == DownloadSystem::DownloadState::Finished && !download->GetData().Empty();
    return std::move(download->GetData());
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

template <typename Add>
void FetchGroup(InterfaceAssets& assets, const std::map<std::string, std::string>& members,
                const char* missingText, Add add) {
    if (members.empty()) {
        assets.ReportFailure(missingText);
    }
    for (const auto& [key, url] : members) {
        if (assets.IsGivenUp()) {
            return;
        }
        const ImageLocation location = LocateImage(url);
        bool ok = false;
        DownloadSystem::DownloadState state = DownloadSystem::DownloadState::Idle;
        ByteBuffer bytes = Fetch(assets, location.server, location.path, ok, state);
        if (!ok) {
            assets.ReportFailure("failed to download texture: " + url + " - " +
                                 std::to_string(static_cast<int>(state)));
        }
        // Kept also after a failure: decoding then fails and is reported as well.
        add(key, std::move(bytes));
    }
}

}  // namespace

void InterfaceAssets::AddCoreImage(const std::string& key, ByteBuffer bytes) {
    std::lock_guard<std::mutex> lock(publishLock_);
    if (!IsGivenUp()) {
        coreImageBytes_[key] = std::move(bytes);
    }
}

void InterfaceAssets::AddMediaImage(const std::string& key, ByteBuffer bytes) {
    std::lock_guard<std::mutex> lock(publishLock_);
    if (!IsGivenUp()) {
        mediaImageBytes_[key] = std::move(bytes);
    }
}

void InterfaceAssets::MarkFetched() {
    std::lock_guard<std::mutex> lock(publishLock_);
    if (!IsGivenUp()) {
        fetched_.store(true, std::memory_order_release);
    }
}

void InterfaceAssets::ReportFailure(const std::string& message) {
    const std::string text = "DownloadManagerInterface::Init() -> " + message;
    std::lock_guard<std::mutex> lock(publishLock_);
    if (IsGivenUp()) {
        LogInfo(text + " (no longer waited for)", "", 0);
    } else {
        ReportError(text, 0, "", 0);
    }
}

bool InterfaceAssets::BeginTransfer(std::shared_ptr<Tavrin_Thread> transfer) {
    std::lock_guard<std::mutex> lock(publishLock_);
    if (IsGivenUp()) {
        return false;
    }
    transfer_ = std::move(transfer);
    return true;
}

void InterfaceAssets::EndTransfer() {
    std::lock_guard<std::mutex> lock(publishLock_);
    transfer_.reset();
}

bool InterfaceAssets::GiveUp() {
    std::shared_ptr<Tavrin_Thread> transfer;
    {
        std::lock_guard<std::mutex> lock(publishLock_);
        if (IsFetched()) {
            return false;
        }
        givenUp_.store(true, std::memory_order_release);
        transfer = std::move(transfer_);
    }
    if (transfer != nullptr) {
        // Stop waits for the transfer's end, which the UI thread must not do.
        try {
            std::thread([transfer] { transfer->Stop(2000); }).detach();
        } catch (const std::system_error& error) {
            LogFailure(std::string("InterfaceAssets::GiveUp no thread to stop the transfer: ") +
                           error.what(),
                       error.code().value(), __FILE__, __LINE__);
        }
    }
    return true;
}

bool InterfaceAssets::Process(const TextureLoader& load) {
    // Pictures that arrived before the wait ended are shown all the same; only later ones
    // are dropped (by the additions).
    if (!IsFetched() && !IsGivenUp()) {
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

std::size_t InterfaceAssets::WaitingBytes() const {
    std::lock_guard<std::mutex> lock(publishLock_);
    std::size_t total = 0;
    for (const auto* images : {&coreImageBytes_, &mediaImageBytes_}) {
        for (const auto& [key, bytes] : *images) {
            total += static_cast<std::size_t>(bytes.Size());
        }
    }
    return total;
}

std::shared_ptr<Texture> InterfaceAssets::GetCoreTexture(const std::string& key) const {
    if (key.empty()) {
        return nullptr;
    }
    const auto found = coreTextures_.find(key);
    return found == coreTextures_.end() ? nullptr : found->second;
}

bool ReadInterfaceDescription(std::string_view text, InterfaceDescription& description,
                              std::string& failure) {
    description = {};
    if (text.empty()) {
        failure = "json from server failed!";
        return false;
    }
    try {
        const nlohmann::json json = nlohmann::json::parse(text);
        description.core = Members(json, "core");
        description.media = Members(json, "media");
        return true;
    } catch (const nlohmann::json::exception& error) {
        failure = std::string("json failed to read: ") + error.what();
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
    const ByteBuffer body =
        Fetch(assets, host, u"/downloadmanager/" + version + u"/meta.json", ok, state);
    InterfaceDescription description;
    std::string failure;
    if (state == DownloadSystem::DownloadState::Finished) {
        if (!ReadInterfaceDescription(body.AsText(), description, failure)) {
            assets.ReportFailure(failure);
        } else {
            FetchGroup(assets, description.core, "no core texture found!",
                       [&assets](const std::string& key, ByteBuffer bytes) {
                           assets.AddCoreImage(key, std::move(bytes));
                       });
            FetchGroup(assets, description.media, "no media texture found!",
                       [&assets](const std::string& key, ByteBuffer bytes) {
                           assets.AddMediaImage(key, std::move(bytes));
                       });
        }
    }
    assets.MarkFetched();
}

}  // namespace vesk
