// The client's compiled-in hosts and marker as narrow text, so the tools' defaults
// always match what a client of this build asks for.
#pragma once

#include <string>

namespace Tools {

// Host (name[:port]) of the download service the client posts to.
std::string DefaultServiceHost();
// Host of the interface description and its images.
std::string DefaultInterfaceHost();
// Host-name label that makes the client sign its content paths.
std::string DefaultSignedStorageMarker();

}  // namespace Tools
