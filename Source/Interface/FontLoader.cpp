// Font setup from the embedded faces.
#include "FontLoader.h"

#include <imgui.h>

#include <cmath>

#include "Interface/Fonts.h"

namespace vesk {

namespace {

ImFont* AddFont(ImFontAtlas& atlas, float size) {
    // The atlas keeps pointers to the ranges until it is built, so they are static.
    static const ImWchar iconRanges[] = {static_cast<ImWchar>(IconTimes),
                                         static_cast<ImWchar>(IconTimes),
                                         static_cast<ImWchar>(IconPlay),
                                         static_cast<ImWchar>(IconPause),
                                         static_cast<ImWchar>(IconWindowMinimize),
                                         static_cast<ImWchar>(IconWindowMinimize),
                                         0};
    ImFontConfig text;
    text.FontDataOwnedByAtlas = false;  // the bytes are static data of the program
    ImFont* font =
        atlas.AddFontFromMemoryTTF(const_cast<unsigned char*>(Embedded::RobotoLight),
                                   static_cast<int>(Embedded::RobotoLightSize), size, &text);
    ImFontConfig icons;
    icons.FontDataOwnedByAtlas = false;
    icons.MergeMode = true;
    icons.PixelSnapH = true;
    atlas.AddFontFromMemoryTTF(const_cast<unsigned char*>(Embedded::IconFont),
                               static_cast<int>(Embedded::IconFontSize), size, &icons, iconRanges);
    return font;
}

// The factor that brings `rasterised` back to `size`, never short of it in float arithmetic:
// the UI multiplies the two for the line height, and 11.999999 would drop text rows a unit.
float ScaleBack(float size, float rasterised) {
    float back = size / rasterised;
    while (rasterised * back < size) {
        back = std::nextafter(back, 2.0f);
    }
    return back;
}

}  // namespace

std::map<int, ImFont*> AddInterfaceFonts(ImFontAtlas& atlas, float scale) {
    std::map<int, ImFont*> fonts;
    int index = 0;
    for (float size : FontSizes) {
        const float rasterised = size * scale;
        ImFont* font = AddFont(atlas, rasterised);
        if (font != nullptr) {
            // The atlas sets FontSize only when it is built; the rasterised size is known.
            font->Scale = ScaleBack(size, rasterised);
        }
        fonts[index++] = font;
    }
    return fonts;
}

}  // namespace vesk
