// Texture upload and the create / load / find calls over the global registry.
#include "Texture.h"

#include <GLFW/glfw3.h>

#include <utility>

#include "Interface/ImageDecoder.h"
#include "Interface/TextureRegistry.h"
#include "Support/ErrorLog.h"

namespace vesk {

Texture::Texture(std::string name) : Texture(std::move(name), TextureRegistry::Global().NewId()) {}

Texture::Texture(std::string name, std::string id) : id_(std::move(id)), name_(std::move(name)) {}

bool Texture::CopyToGpu(const std::uint8_t* pixels, int width, int height) {
    if (pixels == nullptr || width <= 0 || height <= 0) {
        return false;
    }
    GLint previous = 0;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &previous);

    GLuint name = 0;
    glGenTextures(1, &name);
    if (name == 0) {
        // No texture name means no context or no memory: an upload into texture 0 would draw
        // nothing and silently replace whatever the default texture holds.
        ReportError("Texture::CopyToGpu -> failed to create GL texture!", 0, "", 0);
        return false;
    }
    glBindTexture(GL_TEXTURE_2D, name);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels);
    glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(previous));

    // A texture uploaded again (the font atlas at a new display scale) gives up its old pixels.
    if (uploaded_ && glTexture_ != 0) {
        const GLuint old = glTexture_;
        glDeleteTextures(1, &old);
    }
    glTexture_ = name;
    width_ = width;
    height_ = height;
    uploaded_ = true;
    return true;
}

std::shared_ptr<Texture> CreateTexture(const std::string& name, const std::uint8_t* pixels,
                                       int width, int height) {
    if (pixels == nullptr || width <= 0 || height <= 0) {
        return nullptr;
    }
    auto texture = std::make_shared<Texture>(name);
    if (!texture->CopyToGpu(pixels, width, height)) {
        return nullptr;
    }
    TextureRegistry::Global().Register(texture);
    return texture;
}

std::shared_ptr<Texture> LoadTexture(const std::string& name, const std::uint8_t* data,
                                     std::size_t size) {
    auto image = DecodeImage(data, size);
    if (!image) {
        ReportError("Texture::LoadTexture -> failed loading " + name, 0, "", 0);
        return nullptr;
    }
    return CreateTexture(name, image->pixels.data(), image->width, image->height);
}

std::shared_ptr<Texture> GetTexture(const std::string& key) {
    return TextureRegistry::Global().Find(key);
}

}  // namespace vesk
