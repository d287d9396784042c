#include "WindowDrag.h"

#include <imgui.h>
#include <imgui_internal.h>

#include "Interface/IApplicationWindow.h"
#include "Support/ConsoleLog.h"
#include "Support/FrameTimer.h"

namespace vesk {

bool WindowDrag::Button(const char* id, float x, float y, float width, float height, bool& hovered,
                        bool& held) {
    const ImRect rect(x, y, x + width, y + height);
    const ImGuiID itemId = ImGui::GetID(id);
    ImGui::ItemAdd(rect, itemId);
    // The button behaviour makes the item active while pressed, so a press that leaves the
    // button still does not start a window drag.
    bool behaviourHovered = false;
    bool behaviourHeld = false;
    ImGui::ButtonBehavior(rect, itemId, &behaviourHovered, &behaviourHeld);
    hovered = ImGui::IsMouseHoveringRect(rect.Min, rect.Max, true);
    held = ImGui::IsMouseDown(ImGuiMouseButton_Left);
    if (ImGui::IsItemHovered() || ImGui::IsItemActive()) {
        widgetHovered_ = true;
    }
    // A drag that ends over the button does not press it.
    return hovered && ImGui::IsMouseReleased(ImGuiMouseButton_Left) && !movedThisFrame_;
}

void WindowDrag::Update(bool movable) {
    if (!movable) {
        movedThisFrame_ = false;
        return;
    }
    const ImGuiIO& io = ImGui::GetIO();
    if (ImGui::IsMouseClicked(ImGuiMouseButton_Left) && ImGui::IsWindowHovered() &&
        !widgetHovered_) {
        grabOffsetX_ = io.MousePos.x;
        grabOffsetY_ = io.MousePos.y;
        dragging_ = true;
        LogMessage("activate moving %u", static_cast<unsigned>(FrameTimer::Get().GetFrameCount()));
    }
    if (!ImGui::IsAnyMouseDown()) {
        dragging_ = false;
    }
    if (ImGui::IsMouseDown(ImGuiMouseButton_Left) && dragging_ && !widgetHovered_) {
        int x = 0;
        int y = 0;
        if (!GetApplicationWindow()->GetCursorScreenPosition(x, y)) {
            return;
        }
        GetApplicationWindow()->SetPosition(x - static_cast<int>(grabOffsetX_),
                                            y - static_cast<int>(grabOffsetY_));
        movedThisFrame_ = true;
        return;
    }
    movedThisFrame_ = false;
}

}  // namespace vesk
