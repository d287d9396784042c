// Input queue: every press is seen for at least one frame, at the place it was made, and
// events of one frame never hide each other.
#include "Interface/InputQueue.h"

#include <gtest/gtest.h>
#include <imgui.h>

#include <functional>
#include <string>
#include <vector>

namespace vesk {
namespace {

class InputQueueTest : public ::testing::Test {
protected:
    void SetUp() override { ImGui::CreateContext(); }
    void TearDown() override { ImGui::DestroyContext(); }

    // Applies one frame and describes what the UI sees: "x,y L" for the pointer and the
    // left button (L down, - up), then "R" and "K" when the right button or key A is down.
    std::string Frame() {
        ImGuiIO& io = ImGui::GetIO();
        queue.Apply(io);
        std::string seen = std::to_string(static_cast<int>(io.MousePos.x)) + "," +
                           std::to_string(static_cast<int>(io.MousePos.y)) +
                           (io.MouseDown[0] ? " L" : " -");
        seen += io.MouseDown[1] ? " R" : "";
        seen += io.KeysDown['A'] ? " K" : "";
        return seen;
    }

    InputQueue queue;
};

TEST_F(InputQueueTest, EventsBetweenTwoFramesAreSeenInOrder) {
    struct Row {
        const char* name;
        std::function<void(InputQueue&)> events;
        std::vector<std::string> frames;  // what each following frame sees
    };
    const Row rows[] = {
        {"a press and release between two frames is seen for one frame",
         [](InputQueue& q) {
             q.OnPosition(5, 5);
             q.OnButton(0, true);
             q.OnButton(0, false);
         },
         {"5,5 L", "5,5 -", "5,5 -"}},
        {"a click then a move away: the click lands where it was made",
         [](InputQueue& q) {
             q.OnPosition(1184, 622);
             q.OnButton(0, true);
             q.OnButton(0, false);
             q.OnPosition(300, 300);
         },
         {"1184,622 L", "1184,622 -", "300,300 -"}},
        {"moves in a row collapse into the last",
         [](InputQueue& q) {
             q.OnPosition(1, 1);
             q.OnPosition(2, 2);
             q.OnPosition(3, 3);
             q.OnButton(0, true);
         },
         {"3,3 L", "3,3 L"}},
        {"a double click gives two presses",
         [](InputQueue& q) {
             q.OnButton(0, true);
             q.OnButton(0, false);
             q.OnButton(0, true);
             q.OnButton(0, false);
         },
         {"0,0 L", "0,0 -", "0,0 L", "0,0 -"}},
        {"held buttons stay down; two buttons may change in one frame",
         [](InputQueue& q) {
             q.OnButton(1, true);
             q.OnButton(0, true);
         },
         {"0,0 L R", "0,0 L R", "0,0 L R"}},
        {"a key stroke is seen for one frame, and a click after it waits",
         [](InputQueue& q) {
             q.OnKey('A', true);
             q.OnKey('A', false);
             q.OnButton(0, true);
         },
         {"0,0 - K", "0,0 L", "0,0 L"}},
        {"indexes outside the range are ignored",
         [](InputQueue& q) {
             q.OnButton(-1, true);
             q.OnButton(InputQueue::ButtonCount, true);
             q.OnButton(1000, true);
             q.OnKey(-1, true);
             q.OnKey(InputQueue::KeyCount, true);
         },
         {"0,0 -"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        TearDown();
        SetUp();
        ImGui::GetIO().MousePos = ImVec2(0, 0);
        queue.Clear();
        row.events(queue);
        for (const std::string& expected : row.frames) {
            EXPECT_EQ(Frame(), expected);
        }
        EXPECT_FALSE(queue.HasPending());
    }
}

TEST_F(InputQueueTest, WheelAddsUpAndCharactersOutsideTheUisRangeAreDropped) {
    ImGuiIO& io = ImGui::GetIO();
    queue.OnWheel(3.0f, 2.0f);
    queue.OnWheel(0.0f, -1.5f);
    queue.OnCharacter('x');
    queue.OnCharacter(0);
    queue.OnCharacter(0x1F600);  // outside the 16-bit range the UI takes
    queue.Apply(io);
    EXPECT_EQ(io.MouseWheel, 0.5f);
    EXPECT_EQ(io.MouseWheelH, 3.0f);
    EXPECT_EQ(io.InputQueueCharacters.Size, 0) << "typing waits for a frame without scrolling";
    queue.Apply(io);
    ASSERT_EQ(io.InputQueueCharacters.Size, 1);
    EXPECT_EQ(io.InputQueueCharacters[0], 'x');
}

TEST_F(InputQueueTest, AFloodIsHandedOverWholeWithItsEndState) {
    ImGuiIO& io = ImGui::GetIO();
    for (std::size_t i = 0; i <= InputQueue::MostPending; ++i) {
        queue.OnButton(0, i % 2 == 0);
    }
    queue.OnPosition(7, 9);
    queue.Apply(io);
    EXPECT_FALSE(queue.HasPending());
    EXPECT_TRUE(io.MouseDown[0]);
    EXPECT_EQ(io.MousePos.x, 7.0f);
}

}  // namespace
}  // namespace vesk
