// The worker thread base: start, cooperative stop, bounded waits, and joining.
#include "Support/Tavrin_Thread.h"

#include <chrono>
#include <exception>
#include <string>
#include <system_error>

#include "Support/ErrorLog.h"

namespace vesk {

Tavrin_Thread::~Tavrin_Thread() {
    Stop(Infinite);
    std::unique_lock lock(stateMutex_);
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            // Destroyed from its own Run: nobody can join it, and Entry touches
            // nothing of the object after Run returns.
            thread_.detach();
        } else {
            WaitForEnd(lock, Infinite);
        }
    }
}

bool Tavrin_Thread::Start() {
    std::unique_lock lock(stateMutex_);
    if (active_) {
        LogFailure("Tavrin_Thread::Start thread is already running", 0, __FILE__, __LINE__);
        return false;
    }
    if (thread_.joinable()) {
        if (thread_.get_id() == std::this_thread::get_id()) {
            thread_.detach();  // restarted from its own (finished) Run
        } else {
            thread_.join();
        }
    }
    running_.store(true, std::memory_order_release);
    active_ = true;
    try {
        thread_ = std::thread(&Tavrin_Thread::Entry, this);
    } catch (const std::system_error& error) {
        active_ = false;
        running_.store(false, std::memory_order_release);
        lock.unlock();
        ReportError(std::string("Tavrin_Thread::Start thread creation failed: ") + error.what(),
                    error.code().value(), __FILE__, __LINE__);
        return false;
    }
    threadId_ = thread_.get_id();
    return true;
}

void Tavrin_Thread::Entry(Tavrin_Thread* self) {
    try {
        self->Run();
    } catch (const std::exception& error) {
        ReportError(std::string("Tavrin_Thread: Run ended by an exception: ") + error.what(), 0,
                    __FILE__, __LINE__);
    } catch (...) {
        ReportError("Tavrin_Thread: Run ended by an unknown exception", 0, __FILE__, __LINE__);
    }
    // Notify under the lock: once it is released the object may be destroyed.
    std::lock_guard lock(self->stateMutex_);
    self->running_.store(false, std::memory_order_release);
    self->threadId_ = std::thread::id();
    self->active_ = false;
    self->ended_.notify_all();
}

bool Tavrin_Thread::WaitForEnd(std::unique_lock<std::mutex>& lock, std::uint32_t timeoutMs) {
    const auto ended = [this] { return !active_; };
    if (timeoutMs == Infinite) {
        ended_.wait(lock, ended);
    } else if (!ended_.wait_for(lock, std::chrono::milliseconds(timeoutMs), ended)) {
        return false;
    }
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) {
        thread_.join();
    }
    return true;
}

void Tavrin_Thread::Stop(std::uint32_t timeoutMs) {
    running_.store(false, std::memory_order_release);
    std::unique_lock lock(stateMutex_);
    if (!thread_.joinable() || thread_.get_id() == std::this_thread::get_id()) {
        return;
    }
    if (WaitForEnd(lock, timeoutMs)) {
        return;
    }
    lock.unlock();
    LogInfo("Tavrin_Thread::Stop thread did not stop within " + std::to_string(timeoutMs) +
                " ms; waiting for it to end",
            __FILE__, __LINE__);
    lock.lock();
    WaitForEnd(lock, Infinite);
}

std::uint32_t Tavrin_Thread::Wait(std::uint32_t timeoutMs) {
    std::unique_lock lock(stateMutex_);
    if (thread_.joinable() && thread_.get_id() == std::this_thread::get_id()) {
        return WaitTimedOut;  // a thread cannot outwait itself
    }
    return WaitForEnd(lock, timeoutMs) ? WaitEnded : WaitTimedOut;
}

std::thread::id Tavrin_Thread::GetThreadId() const {
    std::lock_guard lock(stateMutex_);
    return threadId_;
}

}  // namespace vesk
