// A budget of bytes that work in flight takes from and gives back; a taker that
// finds too little free waits for it, so work that comes at once runs in turn
// instead of all in memory together.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace Tools {

class MemoryBudget {
public:
    explicit MemoryBudget(std::size_t bytes) : free_(bytes), total_(bytes) {}

    // Takes `bytes` (the whole budget at most, so one large taker still runs
    // alone) once they are free; false when `until` passes or `stop` is set first.
    bool Take(std::size_t bytes, std::chrono::steady_clock::time_point until,
              const std::atomic<bool>& stop);
    void Give(std::size_t bytes);

    // Holds what it took until it goes out of scope.
    class Held {
    public:
        Held(MemoryBudget& budget, std::size_t bytes) : budget_(budget), bytes_(bytes) {}
        ~Held() { budget_.Give(bytes_); }
        Held(const Held&) = delete;
        Held& operator=(const Held&) = delete;

    private:
        MemoryBudget& budget_;
        std::size_t bytes_;
    };

    std::size_t Clamp(std::size_t bytes) const { return bytes < total_ ? bytes : total_; }

private:
    std::mutex mutex_;
    std::condition_variable freed_;
    std::size_t free_;
    const std::size_t total_;
};

}  // namespace Tools
