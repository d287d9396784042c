// CoreUI without a window: nothing happens before Init, and input arriving while no UI
// context exists is dropped rather than crashing.
#include "Interface/CoreUI.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>
#include <imgui.h>

namespace vesk {
namespace {

TEST(CoreUITest, BeforeInitFramesDoNothingAndNoFontsExist) {
    const auto ui = CoreUI::Get();
    EXPECT_EQ(ui, CoreUI::Get());
    EXPECT_FALSE(ui->IsInitialized());

    ui->NewFrame();
    ui->Render();
    ui->Shutdown();
    EXPECT_EQ(ImGui::GetCurrentContext(), nullptr);
    EXPECT_FALSE(ui->IsInitialized());
    for (int index : {-1, 0, 2, 5, 6}) {
        EXPECT_EQ(ui->GetFont(index), nullptr) << index;
    }
}

TEST(CoreUITest, InputWithoutAUiContextIsIgnored) {
    ASSERT_EQ(ImGui::GetCurrentContext(), nullptr);
    CoreUI::OnMouseButton(nullptr, 0, GLFW_PRESS, 0);
    CoreUI::OnScroll(nullptr, 0.0, 1.0);
    CoreUI::OnCursorPosition(nullptr, 10.0, 10.0);
    CoreUI::OnKey(nullptr, GLFW_KEY_ESCAPE, 0, GLFW_PRESS, 0);
    CoreUI::OnChar(nullptr, 'a');
    EXPECT_EQ(ImGui::GetCurrentContext(), nullptr);
    EXPECT_FALSE(CoreUI::Get()->HasPendingInput());
}

TEST(CoreUITest, InputWaitsForTheNextFrame) {
    const auto ui = CoreUI::Get();
    ImGui::CreateContext();
    ImGuiIO& io = ImGui::GetIO();
    io.MousePos = ImVec2(0.0f, 0.0f);
    CoreUI::OnScroll(nullptr, 3.0, 2.0);
    CoreUI::OnCursorPosition(nullptr, 12.5, 40.0);
    CoreUI::OnChar(nullptr, 'x');
    EXPECT_EQ(io.MouseWheel, 0.0f);
    EXPECT_EQ(io.MousePos.x, 0.0f);
    EXPECT_EQ(io.InputQueueCharacters.Size, 0);
    EXPECT_TRUE(ui->HasPendingInput()) << "the loop must run the frame that takes it";
    ImGui::DestroyContext();
    ui->Shutdown();
}

}  // namespace
}  // namespace vesk
