// What names the release tools accept: release file names the client can store,
// release names, download sub-directories and identifiers used in file names.
#pragma once

#include <string>
#include <string_view>

namespace Tools {

// A release file name the client can request and store flat in its download
// folder on every platform: 1 to 200 characters of A-Z a-z 0-9 . _ - + ~, not
// starting with ".", not a reserved device name, and long enough (7 characters
// without ".exe") for the client to insert its product suffix. On refusal
// `reason` says why.
bool CheckReleaseFileName(std::string_view name, std::string& reason);

// A release name (the client's program name without its last "_" part): 1 to
// 100 characters of the same set, not starting with ".".
bool CheckReleaseName(std::string_view name, std::string& reason);

// A download sub-directory: one or more "/"-separated segments of the same set,
// none empty, "." or "..", no leading or trailing "/".
bool CheckSubdirectory(std::string_view subdir, std::string& reason);

// An identifier that may become part of a file name (a machine id): 1 to 64
// characters of A-Z a-z 0-9 _ -.
bool IsSafeIdentifier(std::string_view text);

}  // namespace Tools
