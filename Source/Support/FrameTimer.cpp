// FrameTimer: per-frame bookkeeping of the frame loop's clock.
#include "Support/FrameTimer.h"

namespace vesk {

namespace {

template <typename Duration>
std::int64_t Whole(FrameTimer::Clock::duration span) {
    return std::chrono::duration_cast<Duration>(span).count();
}

}  // namespace

FrameTimer& FrameTimer::Get() {
    static FrameTimer timer;
    return timer;
}

bool FrameTimer::Start() {
    return Start(Clock::now());
}

bool FrameTimer::Start(Clock::time_point now) {
    if (started_) {
        return true;
    }
    started_ = true;
    frameCount_ = 0;
    framesThisSecond_ = 0;
    framesPerSecond_ = 0.0f;
    deltaSeconds_ = 0.0f;
    elapsedSeconds_ = 0.0f;
    startTime_ = secondWindowTime_ = lastFrameTime_ = now;
    return true;
}

void FrameTimer::Update() {
    Update(Clock::now());
}

void FrameTimer::Update(Clock::time_point now) {
    ++framesThisSecond_;
    if (Whole<std::chrono::seconds>(now - secondWindowTime_) >= 1) {
        secondWindowTime_ = now;
        framesPerSecond_ = static_cast<float>(framesThisSecond_);
        framesThisSecond_ = 0;
    }
    ++frameCount_;
    deltaSeconds_ =
        static_cast<float>(Whole<std::chrono::microseconds>(now - lastFrameTime_)) / 1'000'000.0f;
    elapsedSeconds_ =
        static_cast<float>(Whole<std::chrono::milliseconds>(now - startTime_)) / 1'000.0f;
    lastFrameTime_ = now;
}

double FrameTimer::GetSecondsSinceLastFrame() const {
    return static_cast<double>(GetMillisecondsSinceLastFrame()) / 1'000.0;
}

std::int64_t FrameTimer::GetMillisecondsSinceLastFrame() const {
    return Whole<std::chrono::milliseconds>(Clock::now() - lastFrameTime_);
}

}  // namespace vesk
