// The logo splash shown while the interface pictures load: its clock runs at 1.5 times real
// time and the splash ends once the pictures are ready (or their deadline passed) and the
// clock has passed 2, so it lasts at least 2 / 1.5 s. It stays up while the manifest
// request runs.
#pragma once

#include <chrono>
#include <memory>

namespace vesk {

inline constexpr float SplashClockRate = 1.5f;
inline constexpr float SplashMinimum = 2.0f;

// The splash waits at most this long (from Setup) for the interface pictures; then the flow
// goes on without the ones still missing.
inline constexpr std::chrono::seconds InterfacePicturesDeadline{5};

inline float AdvanceSplashTimer(float timer, float deltaSeconds) {
    return timer + deltaSeconds * SplashClockRate;
}

inline bool IsSplashOver(float timer, bool assetsReady) {
    return assetsReady && timer > SplashMinimum;
}

class Texture;

// The splash's clock and its logo: the compiled-in picture on white, the window shrunk to
// it and fading in with the clock.
class SplashScreen {
public:
    // Registers the logo texture; needs the window's OpenGL context.
    void LoadLogo();
    // The window's size on the splash; null until LoadLogo.
    const std::shared_ptr<Texture>& Logo() const { return logo_; }

    void Advance(float deltaSeconds) { timer_ = AdvanceSplashTimer(timer_, deltaSeconds); }
    bool IsOver(bool assetsReady) const { return IsSplashOver(timer_, assetsReady); }
    void Draw() const;

private:
    float timer_ = 0.0f;
    std::shared_ptr<Texture> logo_;
};

}  // namespace vesk
