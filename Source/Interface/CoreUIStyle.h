// The interface's colour scheme: the UI library's dark preset with white windows and
// muted teal buttons.
#pragma once

struct ImGuiStyle;

namespace vesk {

void ApplyColourScheme(ImGuiStyle& style);

}  // namespace vesk
