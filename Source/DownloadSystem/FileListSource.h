// The release's file list as the manager takes it: fetched from the content host until
// two fetches agree, checked against the publisher's signature when keys are built in,
// and refused as a whole when it names a file that must not be written.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "DownloadSystem/ListedFile.h"

namespace DownloadSystem {

class FileDownload;

// Where the list lies and where its files go.
struct ListPlace {
    std::u16string host;
    // The release's folder on the host.
    std::u16string folder;
    std::u16string listName;
    // Appended to the object names when not empty.
    std::u16string sasToken;
    // Inserted into every local name.
    std::u16string fileSuffix;
    std::u16string downloadFolder;
    // Keeps the list version accepted last.
    std::u16string workFolder;
};

struct ListFetch {
    enum class Outcome {
        // The list was taken (it may be empty).
        Taken,
        // No fetch brought the whole list or its signature: a later pass tries again.
        Unavailable,
        // The release is no longer offered, the list was refused, never agreed, or a
        // stop was requested.
        Ended,
    };
    Outcome outcome = Outcome::Ended;
    // The entries in list order.
    std::vector<ListedFile> files;
    // Taken under the publisher's signature: every complete file carries its SHA-256.
    bool isSigned = false;
};

class FileListSource {
public:
    // Rounds of two list fetches that must agree before the list is refused.
    static constexpr int MaxFetchRounds = 5;
    // Error number of a list that names a file it must not.
    static constexpr int UnsafeListError = -32758;

    // `stopRequested` ends a fetch under way and every later one.
    explicit FileListSource(std::function<bool()> stopRequested)
        : stopRequested_(std::move(stopRequested)) {}

    ListFetch Fetch(const ListPlace& place) const;

private:
    // One fetch into `text` (zero bytes left out) and, when given, `raw` (all bytes).
    // False when it ended without the whole body (reported unless stopped).
    bool FetchOnce(FileDownload& download, const ListPlace& place, std::string& text,
                   std::string* raw, ListFetch& result) const;
    // With publisher keys in force: fetches the list's signature file and takes
    // `listBytes` only when it is signed for this release, at a version no lower than
    // the one taken before, over exactly these bytes (then records the version). Without
    // keys: true.
    bool AcceptSignedList(const ListPlace& place, const std::string& listBytes,
                          ListFetch& result) const;
    // False (reported) when an entry names a file outside the download folder, the
    // running program, a file twice in different case, or, under a signature, a file
    // without its SHA-256.
    static bool IsSafe(const ListPlace& place, const FileList& parsed, bool listSigned);

    std::function<bool()> stopRequested_;
};

}  // namespace DownloadSystem
