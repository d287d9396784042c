#include "DownloadSystem/ManifestRequest.h"

#include <ctime>
#include <exception>
#include <string>

#include <nlohmann/json.hpp>

#include "Configuration.h"
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

ManifestOutcome Failed(ManifestFailure::Kind kind, std::u16string text) {
    ManifestOutcome outcome;
    outcome.failure = {kind, std::move(text)};
    return outcome;
}
}  // namespace

std::u16string ManifestRequest::SignSubdirectory(const std::u16string& subdir,
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

ManifestOutcome ManifestRequest::Send(const std::u16string& releaseName,
                                      const Manifest& previous) const {
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
        return Failed(ManifestFailure::Kind::ServiceStatus,
                      u"DownloadManager::RequestDownload the download service answered " +
                          StringUtils::ToWide(std::to_string(upload.GetStatusCode())));
    }
    // Part of a manifest would read as a release without files.
    if (!upload.IsReplyComplete()) {
        return Failed(
            ManifestFailure::Kind::ReplyIncomplete,
            u"DownloadManager::RequestDownload the service's reply was not read to its end");
    }
    return ReadReply(upload.GetResponseText(), previous);
}

ManifestOutcome ManifestRequest::ReadReply(const std::string& text, const Manifest& previous) {
    Manifest manifest = previous;
    try {
        VESK_LOG_INFO(text);
        // A reply that is not JSON counts as one without members.
        const nlohmann::json reply = nlohmann::json::parse(text, nullptr, false);
        if (reply.is_object()) {
            const auto info = reply.find("error_info");
            if (info != reply.end() && info->is_string()) {
                return Failed(ManifestFailure::Kind::Refused,
                              StringUtils::ToWide(info->get<std::string>()));
            }
        }
        manifest.productCode = StringMember(reply, "product_code");
        manifest.companyName = StringMember(reply, "company_name");
        manifest.downloadSubdir = StringMember(reply, "download_subdir");
        manifest.hostName = StringMember(reply, "host_name");
        manifest.sasToken = StringMember(reply, "SAS");
        if (!manifest.sasToken.empty() &&
            manifest.hostName.find(Configuration::SignedStorageMarker) != std::u16string::npos) {
            const auto expiry =
                static_cast<std::uint32_t>(std::time(nullptr) + SignedLinkLifetimeSeconds);
            manifest.downloadSubdir =
                SignSubdirectory(manifest.downloadSubdir, manifest.sasToken, expiry);
            manifest.sasToken.clear();
        }
        manifest.fileSuffix = u"_" + manifest.productCode;
    } catch (const std::exception& error) {
        VESK_LOG_INFO(std::string("DownloadManager::RequestDownload ") + error.what());
    }
    ManifestOutcome outcome;
    outcome.manifest = std::move(manifest);
    return outcome;
}

}  // namespace DownloadSystem
