// How the application makes its window.
#pragma once

#include <cstdint>

namespace vesk {

enum class WindowMode : std::int32_t {
    Windowed = 0,           // an ordinary decorated window (also any unknown value)
    Borderless = 1,         // undecorated, width x height, not bound to a monitor
    Fullscreen = 2,         // full screen on the primary monitor at width x height
    DesktopFullscreen = 3,  // full screen at the primary monitor's current resolution
};

}  // namespace vesk
