// Hashes the bytes of every draw list with the standard library's string hash.
#include "Interface/DrawDataFingerprint.h"

#include <imgui.h>

#include <functional>
#include <string_view>

namespace vesk {

namespace {

std::uint64_t Mix(std::uint64_t seed, std::uint64_t value) {
    return seed ^ (value + 0x9E3779B97F4A7C15ull + (seed << 6) + (seed >> 2));
}

template <typename T>
std::uint64_t HashBytes(const T* items, std::size_t count) {
    if (count == 0) {
        return 0;
    }
    return std::hash<std::string_view>{}(
        std::string_view(reinterpret_cast<const char*>(items), count * sizeof(T)));
}

}  // namespace

std::uint64_t FingerprintDrawData(const ImDrawData& data) {
    std::uint64_t seed = HashBytes(&data.DisplaySize, 1);
    seed = Mix(seed, HashBytes(&data.FramebufferScale, 1));
    for (int i = 0; i < data.CmdListsCount; ++i) {
        const ImDrawList* list = data.CmdLists[i];
        seed = Mix(seed,
                   HashBytes(list->VtxBuffer.Data, static_cast<std::size_t>(list->VtxBuffer.Size)));
        seed = Mix(seed,
                   HashBytes(list->IdxBuffer.Data, static_cast<std::size_t>(list->IdxBuffer.Size)));
        for (const ImDrawCmd& command : list->CmdBuffer) {
            seed = Mix(seed, HashBytes(&command.ClipRect, 1));
            seed = Mix(seed, reinterpret_cast<std::uintptr_t>(command.TextureId));
            seed = Mix(seed, command.ElemCount);
            seed = Mix(seed,
                       (static_cast<std::uint64_t>(command.VtxOffset) << 32) | command.IdxOffset);
            // A callback draws by itself: such a frame is never taken as unchanged.
            if (command.UserCallback != nullptr) {
                static std::uint64_t callbackFrames = 0;
                seed = Mix(seed, ++callbackFrames);
            }
        }
    }
    return seed;
}

}  // namespace vesk
