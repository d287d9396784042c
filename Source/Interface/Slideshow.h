// The left panel's slideshow: which two media pictures are shown and how far the eased
// crossfade between them has come. Each slide stays 15 seconds; a crossfade takes one.
#pragma once

#include <cstddef>

namespace vesk {

class Slideshow {
public:
    static constexpr float SlidePeriod = 15.0f;

    // Advances by `delta` seconds with `count` pictures; does nothing with fewer than two.
    void Advance(float delta, std::size_t count);

    // The picture drawn first (with alpha 1 - Ease()) and the one over it (alpha Ease()).
    int SlotA() const { return slotA_; }
    int SlotB() const { return slotB_; }
    int CurrentSlide() const { return currentSlide_; }
    float Crossfade() const { return crossfade_; }
    // The in-out sine easing of the crossfade.
    float Ease() const;

private:
    int currentSlide_ = 0;
    float countdown_ = SlidePeriod;
    float crossfade_ = 0.0f;
    int direction_ = -1;
    int slotA_ = 0;
    int slotB_ = 1;
};

}  // namespace vesk
