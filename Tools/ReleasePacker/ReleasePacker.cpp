// Release packing: folder scan, name and size checks, CRC-32 with zlib, and the
// all-or-nothing write of the list and the description.
#include "ReleasePacker.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <map>
#include <memory>

#include "FileWriting.h"
#include "NameRules.h"
#include "ReleaseSignature.h"

namespace Tools {
namespace fs = std::filesystem;

namespace {

constexpr std::size_t kReadBlock = 1 << 20;

std::string Lowered(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return out;
}

}  // namespace

ReleasePacker::ReleasePacker(PackOptions options) : options_(std::move(options)) {}

fs::path ReleasePacker::FolderPath() const {
    return options_.contentRoot / options_.release.downloadSubdir;
}

fs::path ReleasePacker::FileListPath() const {
    return FolderPath() / options_.release.FileListName();
}

fs::path ReleasePacker::SignaturePath() const {
    return FolderPath() / (options_.release.FileListName() + ".sig");
}

std::string ReleasePacker::FormatFileList(const std::vector<PackedFile>& files) {
    std::string text;
    for (const PackedFile& file : files) {
        // The client compares all 32 bits with a signed decimal it parses, so a
        // CRC with the top bit set travels as its negative two's-complement value.
        text += file.name + "\r\n" + std::to_string(file.size) + "\r\n" +
                std::to_string(static_cast<std::int32_t>(file.crc)) + "\r\n" + file.sha256 + ";";
    }
    return text;
}

bool ReleasePacker::CheckOptions(std::string& error) const {
    const ReleaseDescription& r = options_.release;
    std::string reason;
    if (!CheckReleaseName(r.release, reason)) {
        error = "release name \"" + r.release + "\" refused: " + reason;
        return false;
    }
    // The client fetches the list and the files of such releases from the root
    // of the content host, ignoring the sub-directory; this layout cannot hold them.
    if (r.release.find("2_5") != std::string::npos) {
        error = "release name \"" + r.release +
                "\" refused: the client ignores the download sub-directory for names holding "
                "\"2_5\"";
        return false;
    }
    if (r.productCode.empty()) {
        error = "the product code is empty";
        return false;
    }
    if (!CheckSubdirectory(r.downloadSubdir, reason)) {
        error = "download sub-directory \"" + r.downloadSubdir + "\" refused: " + reason;
        return false;
    }
    if (r.downloadSubdir == kReleasesFolder ||
        r.downloadSubdir.rfind(std::string(kReleasesFolder) + "/", 0) == 0) {
        error = "the download sub-directory may not lie in the \"releases\" folder";
        return false;
    }
    if (r.hostName.empty()) {
        error = "the host name is empty";
        return false;
    }
    if (!options_.signingKey.empty() && options_.version == 0) {
        error = "a signed release needs its version (1 or more)";
        return false;
    }
    if (!options_.signingKey.empty() && !fs::is_regular_file(options_.signingKey)) {
        error = "no signing key at " + options_.signingKey.string();
        return false;
    }
    if (!options_.signedStorageMarker.empty() &&
        r.hostName.find(options_.signedStorageMarker) != std::string::npos && r.sasToken.empty()) {
        error = "host \"" + r.hostName + "\" checks signed paths (\"" +
                options_.signedStorageMarker + "\"): give a SAS token to sign with";
        return false;
    }
    return true;
}

bool ReleasePacker::ScanFolder(std::vector<PackedFile>& files, std::string& error) const {
    std::error_code ec;
    fs::directory_iterator it(FolderPath(), ec);
    if (ec) {
        error = "cannot read folder " + FolderPath().string() + ": " + ec.message();
        return false;
    }
    std::vector<std::string> problems;
    std::map<std::string, std::string> byLowerName;  // Windows names ignore case
    const std::string listName = options_.release.FileListName();
    for (; it != fs::directory_iterator(); it.increment(ec)) {
        if (ec) {
            break;
        }
        const std::string name = it->path().filename().string();
        if (name == listName || name == listName + ".sig") {
            continue;  // the list of an earlier run
        }
        if (!it->is_regular_file(ec)) {
            problems.push_back("\"" + name + "\": not a plain file");
            continue;
        }
        std::string reason;
        if (!CheckReleaseFileName(name, reason)) {
            problems.push_back("\"" + name + "\": " + reason);
            continue;
        }
        auto [other, inserted] = byLowerName.emplace(Lowered(name), name);
        if (!inserted) {
            problems.push_back("\"" + name + "\": differs from \"" + other->second +
                               "\" only in case");
            continue;
        }
        std::uint64_t size = it->file_size(ec);
        if (ec) {
            problems.push_back("\"" + name + "\": cannot read its size: " + ec.message());
            continue;
        }
        if (size > kMaxFileSize) {
            problems.push_back("\"" + name + "\": " + std::to_string(size) +
                               " bytes; files must be smaller than 4 GiB");
            continue;
        }
        files.push_back({name, size, 0, {}});
    }
    if (ec) {
        problems.push_back("cannot read folder " + FolderPath().string() + ": " + ec.message());
    }
    if (problems.empty() && files.empty()) {
        problems.push_back("folder " + FolderPath().string() + " holds no release files");
    }
    if (!problems.empty()) {
        error.clear();
        for (const std::string& problem : problems) {
            error += (error.empty() ? "" : "\n") + problem;
        }
        return false;
    }
    // Byte order, so the same folder always gives the same list.
    std::sort(files.begin(), files.end(),
              [](const PackedFile& a, const PackedFile& b) { return a.name < b.name; });
    return true;
}

bool ReleasePacker::Checksum(PackedFile& file, std::size_t index, std::size_t count,
                             std::string& error) const {
    fs::path path = FolderPath() / file.name;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        error = "cannot open " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[kReadBlock]);
    uLong crc = crc32_z(0L, Z_NULL, 0);
    std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> sha(EVP_MD_CTX_new(), EVP_MD_CTX_free);
    if (!sha || EVP_DigestInit_ex(sha.get(), EVP_sha256(), nullptr) != 1) {
        error = "cannot start a SHA-256";
        close(fd);
        return false;
    }
    PackProgress progress{index, count, file.name, 0, file.size, false};
    while (true) {
        ssize_t n = read(fd, buffer.get(), kReadBlock);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n < 0) {
            error = "cannot read " + path.string() + ": " + std::strerror(errno);
            close(fd);
            return false;
        }
        if (n == 0) {
            break;
        }
        crc = crc32_z(crc, buffer.get(), static_cast<z_size_t>(n));
        if (EVP_DigestUpdate(sha.get(), buffer.get(), static_cast<std::size_t>(n)) != 1) {
            error = "cannot compute the SHA-256 of " + path.string();
            close(fd);
            return false;
        }
        progress.fileBytesDone += static_cast<std::uint64_t>(n);
        if (progress_) {
            progress_(progress);
        }
    }
    close(fd);
    if (progress.fileBytesDone != file.size) {
        error = path.string() + " changed while it was read (" + std::to_string(file.size) +
                " bytes listed, " + std::to_string(progress.fileBytesDone) + " read)";
        return false;
    }
    file.crc = static_cast<std::uint32_t>(crc);
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int digestLength = 0;
    if (EVP_DigestFinal_ex(sha.get(), digest, &digestLength) != 1 || digestLength != 32) {
        error = "cannot compute the SHA-256 of " + path.string();
        return false;
    }
    static constexpr char Digits[] = "0123456789abcdef";
    file.sha256.clear();
    for (unsigned int i = 0; i < digestLength; ++i) {
        file.sha256 += Digits[digest[i] >> 4];
        file.sha256 += Digits[digest[i] & 0xF];
    }
    progress.fileDone = true;
    if (progress_) {
        progress_(progress);
    }
    return true;
}

bool ReleasePacker::Pack(std::string& error) {
    files_.clear();
    std::vector<PackedFile> files;
    if (!CheckOptions(error) || !ScanFolder(files, error)) {
        return false;
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        if (!Checksum(files[i], i, files.size(), error)) {
            return false;
        }
    }
    ReleaseDescription& description = options_.release;
    description.fileCount = files.size();
    description.totalBytes = 0;
    for (const PackedFile& file : files) {
        description.totalBytes += file.size;
    }

    fs::path descriptionPath = DescriptionPath(options_.contentRoot, description.release);
    std::error_code ec;
    fs::create_directories(descriptionPath.parent_path(), ec);
    if (ec) {
        error = "cannot create " + descriptionPath.parent_path().string() + ": " + ec.message();
        return false;
    }
    const std::string listText = FormatFileList(files);
    std::string signatureText;
    if (!options_.signingKey.empty() &&
        !SignFileList(options_.signingKey, description.release, options_.version, listText,
                      signatureText, error)) {
        return false;
    }
    // A signature of an earlier publication never stays beside a list it does not seal.
    fs::remove(SignaturePath(), ec);
    // The list goes first: a description is what makes the server offer the
    // release, so it must never point at a missing or older list.
    if (!WriteFileAtomically(FileListPath(), listText, error) ||
        (!signatureText.empty() && !WriteFileAtomically(SignaturePath(), signatureText, error)) ||
        !WriteFileAtomically(descriptionPath, ToJsonText(description), error)) {
        return false;
    }
    files_ = std::move(files);
    return true;
}

}  // namespace Tools
