// Font setup from the embedded faces.
#include "FontLoader.h"

#include <imgui.h>

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

}  // namespace

std::map<int, ImFont*> AddInterfaceFonts(ImFontAtlas& atlas, float scale) {
    std::map<int, ImFont*> fonts;
    int index = 0;
    for (float size : FontSizes) {
        ImFont* font = AddFont(atlas, size * scale);
        if (font != nullptr) {
            // The atlas sets FontSize only when it is built; the rasterised size is known.
            font->Scale = size / (size * scale);
        }
        fonts[index++] = font;
    }
    return fonts;
}

}  // namespace vesk
