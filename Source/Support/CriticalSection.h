// The locking primitives of the engine and the error log: a recursive lock and a
// scope-bound guard that releases it on every exit path, unwinding included.
#pragma once

#include <mutex>

namespace vesk {

// A lock the owning thread may take again; each Enter needs one Leave.
class CriticalSection {
public:
    CriticalSection() = default;
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    void Enter() { mutex_.lock(); }
    void Leave() { mutex_.unlock(); }
    bool TryEnter() { return mutex_.try_lock(); }

    // BasicLockable, so the standard guards work as well.
    void lock() { Enter(); }
    void unlock() { Leave(); }

private:
    std::recursive_mutex mutex_;
};

// Enters the section when constructed, leaves it when destroyed.
class CriticalSectionLock {
public:
    explicit CriticalSectionLock(CriticalSection* section) : section_(section) {
        section_->Enter();
    }
    explicit CriticalSectionLock(CriticalSection& section) : CriticalSectionLock(&section) {}
    ~CriticalSectionLock() { section_->Leave(); }
    CriticalSectionLock(const CriticalSectionLock&) = delete;
    CriticalSectionLock& operator=(const CriticalSectionLock&) = delete;

private:
    CriticalSection* section_;
};

}  // namespace vesk
