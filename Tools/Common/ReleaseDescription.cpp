// Reading and writing release description files (JSON).
#include "ReleaseDescription.h"

#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "NameRules.h"

namespace Tools {

std::filesystem::path DescriptionPath(const std::filesystem::path& contentRoot,
                                      const std::string& release) {
    return contentRoot / kReleasesFolder / (release + ".json");
}

std::string ToJsonText(const ReleaseDescription& d) {
    nlohmann::ordered_json json = {
        {"release", d.release},          {"product_code", d.productCode},
        {"company_name", d.companyName}, {"download_subdir", d.downloadSubdir},
        {"host_name", d.hostName},       {"SAS", d.sasToken},
        {"file_count", d.fileCount},     {"total_bytes", d.totalBytes},
    };
    return json.dump(2) + "\n";
}

bool LoadDescription(const std::filesystem::path& path, ReleaseDescription& d, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path.string();
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    nlohmann::json json = nlohmann::json::parse(text.str(), nullptr, false);
    if (!json.is_object()) {
        error = path.string() + " is not a JSON object";
        return false;
    }
    auto readString = [&](const char* key, std::string& out, bool required) {
        auto it = json.find(key);
        if (it == json.end()) {
            if (required) {
                error = path.string() + ": missing \"" + key + "\"";
            }
            return !required;
        }
        if (!it->is_string()) {
            error = path.string() + ": \"" + key + "\" is not a string";
            return false;
        }
        out = it->get<std::string>();
        return true;
    };
    ReleaseDescription loaded;
    if (!readString("release", loaded.release, true) ||
        !readString("product_code", loaded.productCode, true) ||
        !readString("company_name", loaded.companyName, false) ||
        !readString("download_subdir", loaded.downloadSubdir, true) ||
        !readString("host_name", loaded.hostName, true) ||
        !readString("SAS", loaded.sasToken, false)) {
        return false;
    }
    std::string reason;
    if (!CheckReleaseName(loaded.release, reason) ||
        !CheckSubdirectory(loaded.downloadSubdir, reason)) {
        error = path.string() + ": " + reason;
        return false;
    }
    // The counts are informative only; anything but a plain number reads as 0.
    auto readCount = [&](const char* key) {
        auto it = json.find(key);
        return it != json.end() && it->is_number_unsigned() ? it->get<std::uint64_t>() : 0;
    };
    loaded.fileCount = readCount("file_count");
    loaded.totalBytes = readCount("total_bytes");
    d = std::move(loaded);
    return true;
}

}  // namespace Tools
