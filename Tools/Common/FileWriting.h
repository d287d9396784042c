// Writes that never leave a half-written file under its final name: the bytes go
// to a temporary file beside the target first and are moved into place whole.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace Tools {

// Replaces `path` with `bytes` atomically. False with `error` set on failure;
// the previous content, if any, is then untouched.
bool WriteFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::string& error);

// Stores `bytes` in `folder` under a new name stem + extension, or
// stem + "-N" + extension when that name is taken; never overwrites. `written`
// receives the final path.
bool WriteNewFile(const std::filesystem::path& folder, const std::string& stem,
                  const std::string& extension, std::string_view bytes,
                  std::filesystem::path& written, std::string& error);

}  // namespace Tools
