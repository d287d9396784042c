// SHA-256 of a stream of blocks on a thread of its own, so hashing a download runs beside
// receiving and writing it instead of after each piece. Blocks are handed over, not copied:
// the caller gives a filled buffer and takes an empty one back.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "Platform/Crypto.h"

namespace DownloadSystem {

class Sha256Pipe {
public:
    // Blocks waiting to be hashed before Push waits: bounds the memory to a few buffers.
    static constexpr std::size_t MaxQueued = 4;

    Sha256Pipe();
    // Ends the thread once what is queued is hashed; the digest is not asked for then.
    ~Sha256Pipe();
    Sha256Pipe(const Sha256Pipe&) = delete;
    Sha256Pipe& operator=(const Sha256Pipe&) = delete;

    // Queues `block` for hashing (in the order pushed) and returns an empty buffer for the
    // next one; waits while MaxQueued blocks are waiting.
    std::vector<std::uint8_t> Push(std::vector<std::uint8_t> block);

    // Waits until every pushed block is hashed and gives the digest of them all; false
    // when the hash failed. The pipe takes no more blocks afterwards.
    bool Finish(Platform::Sha256Digest& digest);

private:
    void Run();
    void End();

    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::vector<std::uint8_t>> queued_;
    std::vector<std::vector<std::uint8_t>> spare_;
    bool hashing_ = false;  // the thread holds a block outside the queue
    bool ending_ = false;
    bool failed_ = false;
    Platform::Sha256 hash_;
    std::thread thread_;
};

}  // namespace DownloadSystem
