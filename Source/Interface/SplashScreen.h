// The logo splash shown while the interface pictures load: its clock runs at 1.5 times real
// time and the splash ends once the pictures are ready and the clock has passed 2, so it
// lasts at least 2 / 1.5 s.
#pragma once

namespace vesk {

inline constexpr float SplashClockRate = 1.5f;
inline constexpr float SplashMinimum = 2.0f;

inline float AdvanceSplashTimer(float timer, float deltaSeconds) {
    return timer + deltaSeconds * SplashClockRate;
}

inline bool IsSplashOver(float timer, bool assetsReady) {
    return assetsReady && timer > SplashMinimum;
}

}  // namespace vesk
