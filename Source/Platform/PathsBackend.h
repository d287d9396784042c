// What each backend of Paths.h provides: the system's own answers, without the overrides
// (Paths.cpp puts those in front). Empty text on failure, with the error number left for
// Platform::LastSystemError().
#pragma once

#include <string>

namespace Platform::Paths {

std::u16string SystemExecutablePath();
std::u16string SystemLocalAppDataFolder();
std::u16string SystemHostsFilePath();

}  // namespace Platform::Paths
