// Opens the HTTPS exchange of a download worker: session, connection, GET request with the
// worker's headers, and the check that the server answered 200. It works on the worker's
// handles and holds nothing itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace DownloadSystem {

// True when the raw reply headers carry "Content-Range: bytes FROM-LAST/TOTAL" for the
// rest of the object from `from` (LAST + 1 == TOTAL), and TOTAL equals `total` when one
// is known. Header names are matched in any case.
bool ContentRangeContinuesAt(std::string_view rawHeaders, std::uint64_t from,
                             std::optional<std::uint64_t> total);

class FileDownload;

class Connection {
public:
    virtual ~Connection() = default;

    // Closes the worker's open handles, then opens new ones and sends the GET request for
    // remote path + remote suffix to the worker's server (port 443 unless the server name
    // carries one). Stores the reply's status as the worker's error code. True when the
    // server answered 200; every failure is logged and leaves the handles closed.
    // When the worker asks for the rest of the object from an offset, the request carries
    // "Range: bytes=N-"; a 206 whose Content-Range continues there is taken as well (the
    // worker's rangeAnswered_), any other 206 or a 416 is refused (rangeRefused_).
    bool OpenHttpConnection(FileDownload& worker);

    // Closes the worker's request, connection and session, in that order.
    void CloseHandles(FileDownload& worker);
};

}  // namespace DownloadSystem
