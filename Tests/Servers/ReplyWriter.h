// Writes a route's reply on a connection: content from memory, a file or the pattern, ranges,
// gzip, and the faults a reply asks for.
#pragma once

#include "Servers/HttpExchange.h"
#include "Servers/TlsStream.h"

#include <chrono>
#include <functional>

namespace TestServers {

// How the connection goes on after a reply.
enum class AfterReply { KeepAlive, Close, Cut, CutWithReset, StaySilent };

// `wait` sleeps for the given time and returns false when the server is stopping.
AfterReply WriteReply(TlsStream& stream, const RecordedRequest& request, const Reply& reply,
                      const std::function<bool(std::chrono::milliseconds)>& wait);

}  // namespace TestServers
