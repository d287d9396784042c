// A loopback port nobody listens on, for a server a test starts later (nginx) or for a
// port that must refuse connections.
#pragma once

#include <cstdint>

namespace TestServers {

// Picked below the system's ephemeral range, so the servers other tests start on port 0
// are never handed it between this pick and its use. 0 when no free port was found.
std::uint16_t UnusedLoopbackPort();

}  // namespace TestServers
