// The base of every worker thread: owns one thread running the object's Run, and a
// cooperative stop (a running flag that Run polls, and a bounded wait for it).
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

namespace vesk {

class Tavrin_Thread {
public:
    // Time-out value that waits without limit.
    static constexpr std::uint32_t Infinite = 0xFFFFFFFF;
    // Results of Wait.
    static constexpr std::uint32_t WaitEnded = 0;
    static constexpr std::uint32_t WaitTimedOut = 258;

    Tavrin_Thread() = default;
    Tavrin_Thread(const Tavrin_Thread&) = delete;
    Tavrin_Thread& operator=(const Tavrin_Thread&) = delete;

    // Stops and joins the thread. Every derived class must call Stop in its own
    // destructor: once this one runs, the derived part (and its Run) is gone, and a
    // thread still inside Run would call into a destroyed object.
    virtual ~Tavrin_Thread();

    // Sets the running flag and starts a thread on Run. Returns false, with the flag
    // cleared and the failure on the error list, when the thread cannot be created;
    // returns false and changes nothing when this object's thread still runs. A
    // thread that ended by itself is joined first, so an object may be started again.
    virtual bool Start();

    // The work. Must return soon after IsRunning turns false; every blocking wait in
    // it polls IsRunning. An exception escaping Run is recorded as an error.
    virtual void Run() = 0;

    // Asks the thread to stop (clears the running flag) and waits for Run to return.
    // Threads are never killed: a killed thread would leave its locks held. When
    // `timeoutMs` passes first, the overrun is logged and the wait goes on until Run
    // returns, so the object is never destroyed under a running thread. Called from
    // the thread itself it only clears the flag. Without a thread it does nothing.
    virtual void Stop(std::uint32_t timeoutMs);

    // Waits at most `timeoutMs` for Run to return: WaitEnded when it has (or no thread
    // was started), WaitTimedOut otherwise.
    std::uint32_t Wait(std::uint32_t timeoutMs);

    bool IsRunning() const { return running_.load(std::memory_order_acquire); }

    // The id of the running thread; a default id when none runs.
    std::thread::id GetThreadId() const;

private:
    static void Entry(Tavrin_Thread* self);
    // Waits for the end of Run; true when it ended within the time-out. Joins an
    // ended thread. Requires `lock` to hold stateMutex_.
    bool WaitForEnd(std::unique_lock<std::mutex>& lock, std::uint32_t timeoutMs);

    std::atomic<bool> running_{false};
    mutable std::mutex stateMutex_;
    std::condition_variable ended_;
    bool active_ = false;  // a thread exists whose Run has not returned
    std::thread thread_;
    std::thread::id threadId_;
};

}  // namespace vesk
