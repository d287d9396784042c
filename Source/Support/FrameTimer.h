// The frame loop's clock: frame count, frames per second, frame delta and elapsed
// time since Start, on a monotonic clock. Used by the UI thread only.
#pragma once

#include <chrono>
#include <cstdint>

namespace vesk {

class FrameTimer {
public:
    using Clock = std::chrono::steady_clock;

    // The process-wide timer of the frame loop.
    static FrameTimer& Get();

    // The first call sets every time point to now and the counters to 0; later calls
    // change nothing. Returns true.
    bool Start();
    bool Start(Clock::time_point now);

    // Advances one frame.
    void Update();
    void Update(Clock::time_point now);

    std::uint64_t GetFrameCount() const { return frameCount_; }
    // Frames of the last completed one-second window; 0 during the first second.
    float GetFramesPerSecond() const { return framesPerSecond_; }
    // Time between the two most recent updates (whole microseconds).
    float GetDeltaSeconds() const { return deltaSeconds_; }
    // Time from Start to the most recent update (whole milliseconds).
    float GetElapsedSeconds() const { return elapsedSeconds_; }

    // Time since the most recent update (or Start), in whole milliseconds.
    double GetSecondsSinceLastFrame() const;
    std::int64_t GetMillisecondsSinceLastFrame() const;

private:
    bool started_ = false;
    std::uint64_t frameCount_ = 0;
    std::uint64_t framesThisSecond_ = 0;
    float framesPerSecond_ = 0.0f;
    float deltaSeconds_ = 0.0f;
    float elapsedSeconds_ = 0.0f;
    Clock::time_point startTime_{};
    Clock::time_point secondWindowTime_{};
    Clock::time_point lastFrameTime_{};
};

}  // namespace vesk
