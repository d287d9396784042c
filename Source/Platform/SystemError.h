// Text of an operating-system error number. A backend returns the system's own
// message (strerror on Linux, FormatMessage on Windows); HTTP error names are not its job.
#pragma once

#include <string>

namespace Platform {

// The system's message for `errorNumber`, in UTF-8, exactly as the system gives it
// (FormatMessage's texts end with a line break, strerror's do not). Returns an empty
// string when the system has no text for the number.
std::string SystemErrorText(int errorNumber);

// The calling thread's last operating-system error number (errno on Linux).
int LastSystemError();

// What a failed file open or write says about the file, from its error number: the disk
// (or the file's size limit) is full, another program holds the file, or the file cannot
// be written for some other reason (no permission, a read-only folder, gone meanwhile).
enum class FileFault { DiskFull, InUse, CannotWrite };
FileFault ClassifyFileError(int errorNumber);

}  // namespace Platform
