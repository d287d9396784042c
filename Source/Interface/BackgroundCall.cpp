// A detached thread per call with a shared done flag.
#include "BackgroundCall.h"

#include <exception>
#include <string>
#include <system_error>
#include <thread>
#include <utility>

#include "Support/ErrorLog.h"

namespace vesk {

namespace {

void RunGuarded(const std::function<void()>& work) {
    try {
        work();
    } catch (const std::exception& error) {
        LogFailure(
            std::string("BackgroundCall: Obviously a major malfunction. Message: ") + error.what(),
            0, __FILE__, __LINE__);
    }
}

}  // namespace

bool BackgroundCall::Start(std::function<void()> work) {
    if (state_ != nullptr) {
        return false;
    }
    auto state = std::make_shared<State>();
    state_ = state;
    started_ = Clock::now();
    auto body = [state, work = std::move(work)] {
        RunGuarded(work);
        std::lock_guard<std::mutex> lock(state->lock);
        state->done = true;
        state->ended.notify_all();
    };
    try {
        std::thread(body).detach();
    } catch (const std::system_error& error) {
        LogFailure(std::string("BackgroundCall: no thread; running on the caller. ") + error.what(),
                   error.code().value(), __FILE__, __LINE__);
        body();
    }
    return true;
}

bool BackgroundCall::IsDone() const {
    if (state_ == nullptr) {
        return false;
    }
    std::lock_guard<std::mutex> lock(state_->lock);
    return state_->done;
}

bool BackgroundCall::WaitFor(std::chrono::milliseconds timeout) const {
    if (state_ == nullptr) {
        return false;
    }
    std::unique_lock<std::mutex> lock(state_->lock);
    return state_->ended.wait_for(lock, timeout, [this] { return state_->done; });
}

BackgroundCall::Clock::duration BackgroundCall::Elapsed() const {
    return state_ == nullptr ? Clock::duration::zero() : Clock::now() - started_;
}

}  // namespace vesk
