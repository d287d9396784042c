// The left panel's slideshow: which two media pictures are shown and how far the eased
// crossfade between them has come. Each slide stays 15 seconds; a crossfade takes one.
// Drawn with the tagline framed over it.
#pragma once

#include <cstddef>
#include <memory>
#include <vector>

namespace vesk {

class Texture;

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

    // Advances by the frame's time and draws the left panel: the two pictures crossfading
    // (with at least two `media` pictures) and, when `showTagline`, the tagline at `alpha`.
    void Draw(const std::vector<std::shared_ptr<Texture>>& media, bool showTagline, float alpha);

private:
    int currentSlide_ = 0;
    float countdown_ = SlidePeriod;
    float crossfade_ = 0.0f;
    int direction_ = -1;
    int slotA_ = 0;
    int slotB_ = 1;
};

}  // namespace vesk
