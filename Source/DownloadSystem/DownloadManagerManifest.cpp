// The manifest request: a form post to the download service answered with JSON that
// says where the release's files lie and how they are named; and the signed-path rule
// for content hosts that check signed paths.
#include <ctime>
#include <exception>
#include <string>

#include <nlohmann/json.hpp>

#include "Configuration.h"
#include "DownloadSystem/DownloadManager.h"
#include "DownloadSystem/Endpoints.h"
#include "DownloadSystem/FileUpload.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {

using vesk::StringUtils;

namespace {
constexpr char16_t UserAgent[] = u"Sorvan Download Manager / 9.5";
constexpr char16_t EngineVersion[] = u"9.5";
// How long a signed path stays valid.
constexpr std::int64_t SignedLinkLifetimeSeconds = 259200;

// The key's string value, or empty text when it is missing or not a string.
std::u16string StringMember(const nlohmann::json& reply, const char* key) {
    if (!reply.is_object()) {
        return {};
    }
    const auto found = reply.find(key);
    if (found == reply.end() || !found->is_string()) {
        return {};
    }
    return StringUtils::ToWide(found->get<std::string>());
}
}  // namespace

std::u16string DownloadManager::SignSubdirectory(const std::u16string& subdir,
                                                 const std::u16string& token,
                                                 std::uint32_t expiry) {
    const std::string expiryText = std::to_string(expiry);
    const std::string input =
        expiryText + "/" + StringUtils::ToNarrow(subdir) + StringUtils::ToNarrow(token);
    const vesk::ByteBuffer digest =
        StringUtils::Hash(input.data(), input.size(), vesk::HashAlgorithm::Md5);
    std::string sig = StringUtils::Base64Encode(digest.Data(), static_cast<int>(digest.Size()));
    StringUtils::ReplaceAll(sig, "/", "_");
    StringUtils::ReplaceAll(sig, "+", "-");
    std::u16string lowered = subdir;
    StringUtils::ToLower(lowered);
    return StringUtils::ToWide(sig) + u"," + StringUtils::ToWide(expiryText) + u"/" + lowered;
}

bool DownloadManager::RequestDownload(const std::u16string& releaseName,
                                      std::u16string& errorText) {
    const StringMap headers = {
        {u"User-Agent", UserAgent},
        {u"Content-Type", u"application/x-www-form-urlencoded"},
        {u"Method", u"RequestDownload"},
        {u"ComputerId", computerId_},
    };
    const StringMap fields = {
        {u"ReleaseName", releaseName},
        {u"DownloadManagerVersion", EngineVersion},
    };
    FileUpload upload;
    upload.SendFormRequest(Endpoints::ServiceUrl(), HttpVerb::Post, headers, fields, true);
    if (upload.GetStatusCode() != 200) {
        errorText = u"DownloadManager::RequestDownload the download service answered " +
                    StringUtils::ToWide(std::to_string(upload.GetStatusCode()));
        return false;
    }
    // Part of a manifest would read as a release without files.
    if (!upload.IsReplyComplete()) {
        errorText = u"DownloadManager::RequestDownload the service's reply was not read to its end";
        return false;
    }
    return ApplyManifestReply(upload.GetResponseText(), errorText);
}

bool DownloadManager::ApplyManifestReply(const std::string& text, std::u16string& errorText) {
    try {
        VESK_LOG_INFO(text);
        // A reply that is not JSON counts as one without members.
        const nlohmann::json reply = nlohmann::json::parse(text, nullptr, false);
        if (reply.is_object()) {
            const auto info = reply.find("error_info");
            if (info != reply.end() && info->is_string()) {
                errorText = StringUtils::ToWide(info->get<std::string>());
                return false;
            }
        }
        productCode_ = StringMember(reply, "product_code");
        companyName_ = StringMember(reply, "company_name");
        downloadSubdir_ = StringMember(reply, "download_subdir");
        hostName_ = StringMember(reply, "host_name");
        sasToken_ = StringMember(reply, "SAS");
        if (!sasToken_.empty() &&
            hostName_.find(Configuration::SignedStorageMarker) != std::u16string::npos) {
            const auto expiry =
                static_cast<std::uint32_t>(std::time(nullptr) + SignedLinkLifetimeSeconds);
            downloadSubdir_ = SignSubdirectory(downloadSubdir_, sasToken_, expiry);
            sasToken_.clear();
        }
        fileSuffix_ = u"_" + productCode_;
    } catch (const std::exception& error) {
        VESK_LOG_INFO(std::string("DownloadManager::RequestDownload ") + error.what());
    }
    return true;
}

}  // namespace DownloadSystem
