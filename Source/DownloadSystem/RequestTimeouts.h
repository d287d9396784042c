// The time-outs every HTTPS exchange of the engine sets on its session (file
// downloads and service requests alike), and the one conversion of the Http layer's
// error numbers into the error log's.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstdint>

#include "Platform/Http.h"
#include "Support/ErrorLog.h"

namespace DownloadSystem {

inline constexpr std::uint32_t ConnectTimeoutMs = 10000;
inline constexpr std::uint32_t SendTimeoutMs = 120000;
inline constexpr std::uint32_t ReceiveTimeoutMs = 120000;

// Tests that let servers stall cap every time-out here (0: the constants apply), so a
// stalled exchange costs them a second instead of minutes.
inline std::atomic<std::uint32_t> TimeoutCapForTestsMs{0};

inline std::uint32_t CappedTimeout(std::uint32_t timeoutMs) {
    const std::uint32_t cap = TimeoutCapForTestsMs.load();
    return cap == 0 ? timeoutMs : std::min(cap, timeoutMs);
}

// An Http layer error number as the error log records it.
inline int ErrorOf(std::uint32_t code) {
    return static_cast<int>(code);
}

// Sets the three time-outs on a session; a time-out that cannot be set is logged and
// the exchange goes on with the session's default.
inline void ApplyRequestTimeouts(Platform::HttpSession& session) {
    if (!session.SetConnectTimeout(CappedTimeout(ConnectTimeoutMs)))
        VESK_LOG_FAILURE("Setting INTERNET_OPTION_CONNECT_TIMEOUT failed",
                         ErrorOf(session.LastError()));
    if (!session.SetSendTimeout(CappedTimeout(SendTimeoutMs)))
        VESK_LOG_FAILURE("Setting INTERNET_OPTION_SEND_TIMEOUT failed",
                         ErrorOf(session.LastError()));
    if (!session.SetReceiveTimeout(CappedTimeout(ReceiveTimeoutMs)))
        VESK_LOG_FAILURE("Setting INTERNET_OPTION_RECEIVE_TIMEOUT failed",
                         ErrorOf(session.LastError()));
}

}  // namespace DownloadSystem
