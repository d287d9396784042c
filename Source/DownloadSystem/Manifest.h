// What the download service says about a release: where its files lie and how they are
// named on disk.
#pragma once

#include <string>

namespace DownloadSystem {

struct Manifest {
    std::u16string productCode;
    std::u16string companyName;
    // The folder of the release on the content host; rewritten by the signed-path rule.
    std::u16string downloadSubdir;
    std::u16string hostName;
    // Appended to every object name; empty under the signed-path rule.
    std::u16string sasToken;
    // "_" + productCode, inserted into every local file name.
    std::u16string fileSuffix;
};

}  // namespace DownloadSystem
