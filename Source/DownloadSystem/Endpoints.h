// Where the engine reaches the download service. The host is compiled in
// (Configuration::ServiceHost); tests point the engine at their own server through
// OverrideServiceHost, the one seam for that, without rebuilding. Content hosts are
// not configured here: they come from the manifest's "host_name".
#pragma once

#include <string>

namespace DownloadSystem::Endpoints {

// Path of the service endpoint on the service host.
inline constexpr char16_t ServicePath[] = u"/Sorvan/DownloadManager8.ashx";

// The service host ("name" or "name:port"): the override when set, else the
// compiled-in one.
std::u16string ServiceHost();

// "https://" + ServiceHost() + ServicePath.
std::u16string ServiceUrl();

// Replaces the service host until called again with an empty text. Meant for tests,
// set before the engine starts its threads; safe from any thread.
void OverrideServiceHost(const std::u16string& host);

}  // namespace DownloadSystem::Endpoints
