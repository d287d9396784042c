// A small process-wide stack of idle multi handles. The newest is taken first, since its
// connections are the least likely to have been closed by the server meanwhile; libcurl checks
// a cached connection before reusing it and opens a new one when the old one is gone.
#include "Platform/PosixHttpPool.h"

#include <mutex>
#include <vector>

namespace Platform::HttpPool {

namespace {

// Enough for the few servers a run talks to; the oldest idle engine goes first beyond it.
constexpr std::size_t kIdleLimit = 4;

struct Idle {
    CURLM* multi;
    std::string trustKey;
};

struct Pool {
    std::mutex mutex;
    std::vector<Idle> idle;  // oldest first
};

Pool& ThePool() {
    // Never destroyed: requests on other threads may still give handles back at exit.
    static Pool* const pool = new Pool();
    return *pool;
}

}  // namespace

CURLM* Take(const std::string& trustKey) {
    Pool& pool = ThePool();
    {
        std::lock_guard<std::mutex> guard(pool.mutex);
        for (auto it = pool.idle.rbegin(); it != pool.idle.rend(); ++it) {
            if (it->trustKey == trustKey) {
                CURLM* multi = it->multi;
                pool.idle.erase(std::next(it).base());
                return multi;
            }
        }
    }
    return curl_multi_init();
}

void Give(CURLM* multi, const std::string& trustKey) {
    Pool& pool = ThePool();
    CURLM* dropped = nullptr;
    {
        std::lock_guard<std::mutex> guard(pool.mutex);
        if (pool.idle.size() == kIdleLimit) {
            dropped = pool.idle.front().multi;
            pool.idle.erase(pool.idle.begin());
        }
        pool.idle.push_back({multi, trustKey});
    }
    // Closing connections may wait on a TLS close notice; not under the lock.
    if (dropped != nullptr)
        curl_multi_cleanup(dropped);
}

}  // namespace Platform::HttpPool
