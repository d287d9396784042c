// The application shell in this process on a virtual display: window creation, the loop's
// end, and what Create sets up for the screens (UI, fonts, textures with a real context).
#include "Application/Application.h"

#include <GLFW/glfw3.h>
#include <gtest/gtest.h>
#include <imgui.h>
#include <stb_image_write.h>

#include <cstdlib>
#include <vector>

#include "Interface/CoreUI.h"
#include "Interface/Texture.h"
#include "WindowHarness.h"

namespace vesk {
namespace {

class ApplicationTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!test::HasWindowTools()) {
            GTEST_SKIP() << "Xvfb is not installed";
        }
        ASSERT_TRUE(display_.Start());
        setenv("DISPLAY", display_.Name().c_str(), 1);
        application_.SetTitle("Sorvan Download Manager");
        application_.SetWindowMode(WindowMode::Borderless);
        application_.SetSize(1200, 640);
    }
    void TearDown() override { application_.Shutdown(); }

    test::VirtualDisplay display_;
    Application application_;
};

TEST(ApplicationTitleTest, AnEmptyNameKeepsTheTitleAndOthersGetThePrefix) {
    Application application;
    application.SetTitle("");
    EXPECT_EQ(application.GetTitle(), "Unnamed Application");
    application.SetTitle("Sorvan Download Manager");
    EXPECT_EQ(application.GetTitle(), "Tavrin | Sorvan Download Manager");
    application.SetTitle("");
    EXPECT_EQ(application.GetTitle(), "Tavrin | Sorvan Download Manager");
}

TEST_F(ApplicationTest, CreateMakesOneBorderlessWindowWithTheUiReady) {
    int createdCalls = 0;
    application_.SetCreatedHandler([&] { ++createdCalls; });
    ASSERT_TRUE(application_.Create());
    GLFWwindow* window = application_.GetWindow();
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(application_.Create());
    EXPECT_EQ(application_.GetWindow(), window);
    EXPECT_EQ(createdCalls, 1);

    EXPECT_EQ(glfwGetWindowAttrib(window, GLFW_DECORATED), GLFW_FALSE);
    int x = 0;
    int y = 0;
    glfwGetWindowPos(window, &x, &y);
    EXPECT_EQ(x, 360);
    EXPECT_EQ(y, 220);

    const auto ui = CoreUI::Get();
    ASSERT_TRUE(ui->IsInitialized());
    ASSERT_NE(ui->GetFont(2), nullptr);
    EXPECT_EQ(ui->GetFont(2)->FontSize, 16.0f);
    EXPECT_EQ(ImGui::GetIO().FontDefault, ui->GetFont(2));
    const auto fontTexture = ui->GetFontTexture();
    ASSERT_NE(fontTexture, nullptr);
    EXPECT_EQ(GetTexture("font_texture"), fontTexture);
    EXPECT_EQ(GetTexture(fontTexture->GetId()), fontTexture);
    EXPECT_NE(fontTexture->GetGLTexture(), 0u);

    // Sizes are clamped to the desktop.
    application_.SetSize(5000, 5000);
    EXPECT_EQ(application_.GetWidth(), 1920);
    EXPECT_EQ(application_.GetHeight(), 1080);
}

TEST_F(ApplicationTest, TheLoopEndsAtOnceWhenTheFrameHandlerSaysSo) {
    ASSERT_TRUE(application_.Create());
    int frames = 0;
    float firstDelta = 0.0f;
    application_.SetDrawFrameHandler([&] {
        if (frames == 0) {
            firstDelta = ImGui::GetIO().DeltaTime;
        }
        return ++frames < 3;
    });
    application_.Run();
    EXPECT_EQ(frames, 3);
    EXPECT_EQ(firstDelta, 1.0f / 60.0f);
}

TEST_F(ApplicationTest, TexturesUploadOnceTheWindowExists) {
    ASSERT_TRUE(application_.Create());
    const std::uint8_t pixel[4] = {255, 0, 0, 255};
    const auto one = CreateTexture("one_pixel", pixel, 1, 1);
    ASSERT_NE(one, nullptr);
    EXPECT_TRUE(one->IsUploaded());
    EXPECT_EQ(one->GetWidth(), 1);
    EXPECT_EQ(one->GetHeight(), 1);
    EXPECT_NE(one->GetGLTexture(), 0u);
    EXPECT_EQ(GetTexture("one_pixel"), one);

    std::vector<std::uint8_t> png;
    const std::vector<std::uint8_t> pixels(4 * 3 * 4, 200);
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
            auto* out = static_cast<std::vector<std::uint8_t>*>(context);
            out->insert(out->end(), static_cast<std::uint8_t*>(data),
                        static_cast<std::uint8_t*>(data) + size);
        },
        &png, 4, 3, 4, pixels.data(), 16);
    const auto loaded = LoadTexture("media_1", png.data(), png.size());
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(loaded->GetWidth(), 4);
    EXPECT_EQ(loaded->GetHeight(), 3);
    EXPECT_NE(loaded->GetGLTexture(), one->GetGLTexture());
    EXPECT_EQ(GetTexture(loaded->GetId()), loaded);
}

}  // namespace
}  // namespace vesk
