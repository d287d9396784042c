// Request verbs of the request client, and the cap on any reply body that the
// request client or the download worker holds in memory.
#pragma once

#include <cstdint>

namespace DownloadSystem {

// Codes as the service's callers pass them; the text sent is "GET", "POST", "PUT", "DELETE".
enum class HttpVerb : std::int32_t { Get = 1, Post = 2, Put = 3, Delete = 4 };

// The largest reply body kept in memory. A reply that goes beyond it ends the read with a
// logged failure instead of growing without bound.
inline constexpr std::uint64_t MaxReplyBytes = 64ull * 1024 * 1024;
// The cap for a release's file list (some 100,000 entries).
inline constexpr std::uint64_t MaxFileListBytes = 8ull * 1024 * 1024;

}  // namespace DownloadSystem
