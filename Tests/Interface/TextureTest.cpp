// Texture creation failures: nothing registered, and the error list says why when the
// user must know. No OpenGL context exists in this test, so no upload can succeed.
#include "Interface/Texture.h"

#include <gtest/gtest.h>

#include "Interface/TextureRegistry.h"
#include "Support/ErrorLog.h"

namespace vesk {
namespace {

class TextureTest : public ::testing::Test {
protected:
    void SetUp() override { ClearErrors(); }
    void TearDown() override { ClearErrors(); }
};

TEST_F(TextureTest, UndecodableBytesReportTheNameAndMakeNoTexture) {
    const std::uint8_t garbage[] = {1, 2, 3, 4, 5, 6, 7, 8};
    const std::size_t before = TextureRegistry::Global().Size();

    EXPECT_EQ(LoadTexture("media_3", garbage, sizeof garbage), nullptr);

    EXPECT_EQ(GetErrorMessages(),
              std::vector<std::string>{"Texture::LoadTexture -> failed loading media_3"});
    EXPECT_EQ(GetTexture("media_3"), nullptr);
    EXPECT_EQ(TextureRegistry::Global().Size(), before);
}

TEST_F(TextureTest, MissingPixelsOrAnEmptySizeMakeNoTextureAndNoError) {
    const std::uint8_t pixel[4] = {255, 255, 255, 255};
    EXPECT_EQ(CreateTexture("empty", nullptr, 1, 1), nullptr);
    EXPECT_EQ(CreateTexture("empty", pixel, 0, 0), nullptr);
    EXPECT_EQ(CreateTexture("empty", pixel, 1, 0), nullptr);
    EXPECT_EQ(CreateTexture("empty", pixel, -1, 1), nullptr);
    EXPECT_EQ(GetErrorCount(), 0u);
}

TEST_F(TextureTest, AFailedUploadIsReportedAndNotTakenForATexture) {
    // Without a current context no texture name can be made.
    const std::uint8_t pixel[4] = {255, 0, 0, 255};
    Texture texture("orphan");
    EXPECT_FALSE(texture.CopyToGpu(pixel, 1, 1));
    EXPECT_FALSE(texture.IsUploaded());
    EXPECT_EQ(texture.GetGLTexture(), 0u);

    EXPECT_EQ(CreateTexture("orphan", pixel, 1, 1), nullptr);
    EXPECT_EQ(GetTexture("orphan"), nullptr);
    EXPECT_EQ(GetErrorCount(), 2u);
    EXPECT_EQ(GetErrorMessages().front(), "Texture::CopyToGpu -> failed to create GL texture!");
}

}  // namespace
}  // namespace vesk
