// Persistent connections for the libcurl backend. Each idle transfer engine (a multi handle)
// keeps the live connections of its last transfers, so the next request to the same server
// skips the TCP and TLS set-up, as WinINet reuses its connections within a process.
#pragma once

#include <curl/curl.h>

#include <string>

namespace Platform::HttpPool {

// A multi handle whose cached connections were verified under `trustKey`, or a new one. Null
// when libcurl cannot make one.
CURLM* Take(const std::string& trustKey);

// Takes back a multi handle that has no easy handle left and whose last transfer ended
// cleanly, so its connections can serve a later request under the same trust.
void Give(CURLM* multi, const std::string& trustKey);

}  // namespace Platform::HttpPool
