// Waiting for bytes of a shared budget, in short slices that watch a stop flag.
#include "MemoryBudget.h"

#include <algorithm>

namespace Tools {

bool MemoryBudget::Take(std::size_t bytes, std::chrono::steady_clock::time_point until,
                        const std::atomic<bool>& stop) {
    bytes = Clamp(bytes);
    std::unique_lock lock(mutex_);
    while (free_ < bytes) {
        auto now = std::chrono::steady_clock::now();
        if (stop || now >= until) {
            return false;
        }
        freed_.wait_for(lock, std::min<std::chrono::steady_clock::duration>(
                                  until - now, std::chrono::milliseconds(100)));
    }
    free_ -= bytes;
    return true;
}

void MemoryBudget::Give(std::size_t bytes) {
    {
        std::lock_guard lock(mutex_);
        free_ += Clamp(bytes);
    }
    freed_.notify_all();
}

}  // namespace Tools
