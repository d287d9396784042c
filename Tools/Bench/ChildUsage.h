// Runs a command as a child process and reports what it cost: wall time, CPU time
// (user + system) and peak resident memory, as the kernel counts them for that child.
#pragma once

#include <string>
#include <vector>

namespace Bench {

struct ChildUsage {
    double wallSeconds = 0;
    double cpuSeconds = 0;
    long peakResidentKiB = 0;
    int exitStatus = -1;  // exit code, 128 + signal, or -1 when it could not start
};

// Starts `command` (searched in PATH) with its output and errors appended to `logPath`,
// and waits for it.
ChildUsage RunAndMeasure(const std::vector<std::string>& command, const std::string& logPath);

}  // namespace Bench
