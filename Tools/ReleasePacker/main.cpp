// release-packer: command line around ReleasePacker, with progress on stderr.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <string>

#include "ClientConfiguration.h"
#include "ReleasePacker.h"
#include "ReleaseSignature.h"

namespace {

const char* kUsage =
    "usage: release-packer --content-root DIR --release NAME --product-code CODE --subdir DIR\n"
    "                      [--company NAME] [--host HOST] [--sas TOKEN] [--marker LABEL] "
    "[--quiet]\n"
    "                      [--sign-key KEY --version N]\n"
    "       release-packer --make-key KEY\n"
    "\n"
    "Checksums the files in DIR/SUBDIR (the content root's download sub-directory of the\n"
    "release) and writes DIR/SUBDIR/NAME.txt (the file list) and DIR/releases/NAME.json\n"
    "(what the download service answers for NAME). Nothing is written when a file is refused.\n"
    "\n"
    "  --host HOST    content host the client fetches the files from (default %s)\n"
    "  --sas TOKEN    appended to every content request; on a host carrying the signed-\n"
    "                 storage marker it is the secret the client signs its paths with\n"
    "  --marker LABEL signed-storage marker (default %s, as compiled into the client)\n"
    "  --sign-key KEY the publisher's private key: writes NAME.txt.sig beside the list\n"
    "  --version N    the release version the signature carries (1 or more; it must grow\n"
    "                 with every publication of NAME, or clients refuse the list)\n"
    "  --make-key KEY makes a new private key at KEY and prints its public key, the value\n"
    "                 for the client's SORVAN_PUBLISHER_KEYS\n";

void PrintUsage() {
    std::fprintf(stderr, kUsage, Tools::DefaultInterfaceHost().c_str(),
                 Tools::DefaultSignedStorageMarker().c_str());
}

// Progress lines: one updating line on a terminal, one line per file otherwise.
class ProgressPrinter {
public:
    explicit ProgressPrinter(bool quiet) : quiet_(quiet), terminal_(isatty(STDERR_FILENO)) {}

    void operator()(const Tools::PackProgress& p) {
        if (quiet_) {
            return;
        }
        auto now = std::chrono::steady_clock::now();
        if (!p.fileDone && (!terminal_ || now - lastPrint_ < std::chrono::milliseconds(100))) {
            return;
        }
        lastPrint_ = now;
        double percent = p.fileSize == 0 ? 100.0 : 100.0 * p.fileBytesDone / p.fileSize;
        std::fprintf(stderr, "%s[%zu/%zu] %s %.0f%% of %.1f MiB%s", terminal_ ? "\r\033[K" : "",
                     p.fileIndex + 1, p.fileCount, p.name.c_str(), percent, p.fileSize / 1048576.0,
                     p.fileDone || !terminal_ ? "\n" : "");
    }

private:
    bool quiet_;
    bool terminal_;
    std::chrono::steady_clock::time_point lastPrint_{};
};

}  // namespace

int main(int argc, char** argv) {
    Tools::PackOptions options;
    options.release.hostName = Tools::DefaultInterfaceHost();
    options.signedStorageMarker = Tools::DefaultSignedStorageMarker();
    bool quiet = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            PrintUsage();
            return 0;
        }
        if (arg == "--quiet") {
            quiet = true;
            continue;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "release-packer: %s needs a value\n", arg.c_str());
            PrintUsage();
            return 2;
        }
        std::string value = argv[++i];
        if (arg == "--content-root") {
            options.contentRoot = value;
        } else if (arg == "--release") {
            options.release.release = value;
        } else if (arg == "--product-code") {
            options.release.productCode = value;
        } else if (arg == "--company") {
            options.release.companyName = value;
        } else if (arg == "--subdir") {
            options.release.downloadSubdir = value;
        } else if (arg == "--host") {
            options.release.hostName = value;
        } else if (arg == "--sas") {
            options.release.sasToken = value;
        } else if (arg == "--marker") {
            options.signedStorageMarker = value;
        } else if (arg == "--sign-key") {
            options.signingKey = value;
        } else if (arg == "--version") {
            char* end = nullptr;
            options.version = std::strtoull(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || value[0] == '-') {
                std::fprintf(stderr, "release-packer: --version takes a whole number\n");
                return 2;
            }
        } else if (arg == "--make-key") {
            std::string publicKey;
            std::string error;
            if (!Tools::MakeSigningKey(value, publicKey, error)) {
                std::fprintf(stderr, "release-packer: %s\n", error.c_str());
                return 1;
            }
            std::printf("%s\n", publicKey.c_str());
            return 0;
        } else {
            std::fprintf(stderr, "release-packer: unknown option %s\n", arg.c_str());
            PrintUsage();
            return 2;
        }
    }
    if (options.contentRoot.empty() || options.release.release.empty()) {
        PrintUsage();
        return 2;
    }

    Tools::ReleasePacker packer(options);
    ProgressPrinter printer(quiet);
    packer.SetProgress([&printer](const Tools::PackProgress& p) { printer(p); });
    std::string error;
    if (!packer.Pack(error)) {
        std::fprintf(stderr, "release-packer: nothing written for %s:\n%s\n",
                     options.release.release.c_str(), error.c_str());
        return 1;
    }
    const Tools::ReleaseDescription& d = packer.Description();
    std::printf("release-packer: %s: %llu files, %llu bytes\n  list        %s\n  description %s\n",
                d.release.c_str(), static_cast<unsigned long long>(d.fileCount),
                static_cast<unsigned long long>(d.totalBytes), packer.FileListPath().c_str(),
                Tools::DescriptionPath(options.contentRoot, d.release).c_str());
    if (!options.signingKey.empty()) {
        std::string publicKey;
        std::string error;
        Tools::ReadPublicKeyHex(options.signingKey, publicKey, error);
        std::printf("  signature   %s (version %llu, key %s)\n", packer.SignaturePath().c_str(),
                    static_cast<unsigned long long>(options.version), publicKey.c_str());
    }
    if (d.IsSigned(options.signedStorageMarker)) {
        std::printf("  content requests to %s must carry signed paths\n", d.hostName.c_str());
    }
    return 0;
}
