// A full disk for the tests: RLIMIT_FSIZE makes writes past the limit fail (EFBIG) the way
// a full disk fails them, with SIGXFSZ ignored so the process lives on. Both are restored
// when the object goes.
#pragma once

#include <signal.h>
#include <sys/resource.h>

namespace DownloadSystem::Testing {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        if (::sigaction(SIGXFSZ, &ignore, &previous_) != 0)
            return;
        signalSet_ = true;
        if (::getrlimit(RLIMIT_FSIZE, &saved_) != 0)
            return;
        rlimit limited = saved_;
        limited.rlim_cur = bytes;
        applied_ = ::setrlimit(RLIMIT_FSIZE, &limited) == 0;
    }
    ~FileSizeLimit() {
        if (applied_)
            ::setrlimit(RLIMIT_FSIZE, &saved_);
        if (signalSet_)
            ::sigaction(SIGXFSZ, &previous_, nullptr);
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

    bool Applied() const { return applied_; }

private:
    struct sigaction previous_ {};
    rlimit saved_{};
    bool signalSet_ = false;
    bool applied_ = false;
};

}  // namespace DownloadSystem::Testing
