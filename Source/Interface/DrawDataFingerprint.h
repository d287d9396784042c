// A fingerprint of one finished UI frame (its vertices, indices, clip rectangles,
// textures and display size), so the frame loop can tell a frame that looks exactly
// like the last one drawn and skip drawing it.
#pragma once

#include <cstdint>

struct ImDrawData;

namespace vesk {

// Equal draw data gives equal fingerprints; different data almost surely not.
std::uint64_t FingerprintDrawData(const ImDrawData& data);

}  // namespace vesk
