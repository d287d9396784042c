// The hashing thread of Sha256Pipe.
#include "DownloadSystem/Sha256Pipe.h"

#include <exception>
#include <utility>

#include "Support/StructuredException.h"

namespace DownloadSystem {

Sha256Pipe::Sha256Pipe() : thread_([this] { Run(); }) {}

Sha256Pipe::~Sha256Pipe() {
    End();
}

void Sha256Pipe::End() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ending_ = true;
    }
    changed_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

std::vector<std::uint8_t> Sha256Pipe::Push(std::vector<std::uint8_t> block) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [this] { return queued_.size() < MaxQueued || ending_; });
    if (!ending_)
        queued_.push_back(std::move(block));
    std::vector<std::uint8_t> empty;
    if (!spare_.empty()) {
        empty = std::move(spare_.back());
        spare_.pop_back();
    }
    lock.unlock();
    changed_.notify_all();
    empty.clear();
    return empty;
}

bool Sha256Pipe::Finish(Platform::Sha256Digest& digest) {
    {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return (queued_.empty() && !hashing_) || ending_; });
        if (ending_)
            return false;
    }
    End();
    return !failed_ && hash_.Final(digest);
}

void Sha256Pipe::Run() {
    vesk::InstallStructuredExceptionTranslator();
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        changed_.wait(lock, [this] { return !queued_.empty() || ending_; });
        if (queued_.empty())
            return;  // ending, and nothing is left that anyone waits for
        std::vector<std::uint8_t> block = std::move(queued_.front());
        queued_.pop_front();
        hashing_ = true;
        lock.unlock();
        changed_.notify_all();
        bool hashed = false;
        try {
            hashed = hash_.Update(block.data(), block.size());
        } catch (const std::exception&) {
            hashed = false;
        }
        lock.lock();
        failed_ = failed_ || !hashed;
        hashing_ = false;
        spare_.push_back(std::move(block));
        changed_.notify_all();
    }
}

}  // namespace DownloadSystem
