// The hosts-file check: a hosts file that names one of the service's domains (for
// example to redirect or block it) is put on the error list as a diagnosis. It never
// changes the download.
#pragma once

namespace DownloadSystem {

class HostsCheck {
public:
    // 1 when the hosts file names a service domain (reported), 0 when not or empty,
    // -1 when it cannot be examined (reported).
    int Check() const;
};

}  // namespace DownloadSystem
