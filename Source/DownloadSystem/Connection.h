// Opens the HTTPS exchange of a download worker: session, connection, GET request with the
// worker's headers, and the check that the server answered 200. It works on the worker's
// handles and holds nothing itself.
#pragma once

namespace DownloadSystem {

class FileDownload;

class Connection {
public:
    virtual ~Connection() = default;

    // Closes the worker's open handles, then opens new ones and sends the GET request for
    // remote path + remote suffix to the worker's server (port 443 unless the server name
    // carries one). Stores the reply's status as the worker's error code. True when the
    // server answered 200; every failure is logged and leaves the handles closed.
    bool OpenHttpConnection(FileDownload& worker);

    // Closes the worker's request, connection and session, in that order.
    void CloseHandles(FileDownload& worker);
};

}  // namespace DownloadSystem
