// fork + exec + wait4: the child's own rusage, so the measuring process costs nothing.
#include "ChildUsage.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

namespace Bench {

ChildUsage RunAndMeasure(const std::vector<std::string>& command, const std::string& logPath) {
    ChildUsage usage;
    if (command.empty())
        return usage;
    std::vector<char*> argv;
    for (const std::string& argument : command)
        argv.push_back(const_cast<char*>(argument.c_str()));
    argv.push_back(nullptr);

    const auto start = std::chrono::steady_clock::now();
    const pid_t child = ::fork();
    if (child < 0)
        return usage;
    if (child == 0) {
        const int log = ::open(logPath.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (log < 0 || ::dup2(log, 1) < 0 || ::dup2(log, 2) < 0)
            ::_exit(127);
        ::execvp(argv[0], argv.data());
        ::_exit(127);
    }
    int status = 0;
    rusage resources{};
    while (::wait4(child, &status, 0, &resources) < 0) {
        if (errno != EINTR)
            return usage;
    }
    usage.wallSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    usage.cpuSeconds = seconds(resources.ru_utime) + seconds(resources.ru_stime);
    usage.peakResidentKiB = resources.ru_maxrss;
    usage.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return usage;
}

}  // namespace Bench
