// Writes a release's file list for the files of one folder (name, size, signed
// CRC-32, in name order), for files the release packer does not take (4 GiB and more).
#pragma once

#include <string>

namespace Bench {

// False, with a reason in `error`, when a file cannot be read or the list written.
bool WriteFileList(const std::string& folder, const std::string& listPath, std::string& error);

}  // namespace Bench
