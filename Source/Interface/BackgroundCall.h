// One blocking call (the manifest request, the log report) run off the UI thread, so the
// window keeps drawing and answering while it waits on a server. The UI polls IsDone each
// frame. The thread is detached and never joined: the process may end while it still runs,
// and its state is shared, so a late end touches nothing that is gone.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

namespace vesk {

class BackgroundCall {
public:
    using Clock = std::chrono::steady_clock;

    // Starts `work` on its own thread. When no thread can be made, `work` runs here and is
    // done on return. False (and nothing runs) when a call was started before.
    bool Start(std::function<void()> work);
    bool IsStarted() const { return state_ != nullptr; }
    // True once `work` has returned. Everything it wrote is then visible to the caller.
    bool IsDone() const;
    // Waits at most `timeout` for `work` to return; true when it has.
    bool WaitFor(std::chrono::milliseconds timeout) const;
    // Time since Start; zero before.
    Clock::duration Elapsed() const;

private:
    struct State {
        std::mutex lock;
        std::condition_variable ended;
        bool done = false;
    };
    std::shared_ptr<State> state_;
    Clock::time_point started_{};
};

}  // namespace vesk
