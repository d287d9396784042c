// Linux backend of SystemError.h: strerror_r texts, errno as the last error.
#include "Platform/SystemError.h"

#include <cerrno>
#include <cstring>

namespace Platform {

namespace {

// glibc offers the GNU strerror_r (returns the text); POSIX systems return an int.
[[maybe_unused]] const char* Pick(const char* result, const char*) {
    return result;
}
[[maybe_unused]] const char* Pick(int result, const char* buffer) {
    return result == 0 ? buffer : "";
}

}  // namespace

std::string SystemErrorText(int errorNumber) {
    char buffer[256] = {};
    std::string text = Pick(strerror_r(errorNumber, buffer, sizeof buffer), buffer);
    // glibc answers unknown numbers with "Unknown error N"; that is no text.
    if (text.rfind("Unknown error", 0) == 0) {
        return {};
    }
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) {
        text.pop_back();
    }
    return text;
}

int LastSystemError() {
    return errno;
}

FileFault ClassifyFileError(int errorNumber) {
    switch (errorNumber) {
        case ENOSPC:
        case EDQUOT:
        case EFBIG:
            return FileFault::DiskFull;
        case ETXTBSY:  // a running program's own file
        case EBUSY:
            return FileFault::InUse;
        default:
            return FileFault::CannotWrite;
    }
}

}  // namespace Platform
