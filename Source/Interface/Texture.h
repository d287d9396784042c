// Every image of the interface (font atlas, logo, downloaded interface images) as an
// OpenGL texture with a short random id, and the calls that make and find them. The UI
// refers to an image by its id (Texture::GetHandle); the renderer resolves it each draw.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vesk {

class Texture {
public:
    // A texture not yet on the GPU, named `name`, with a fresh id from the global registry
    // (unique among the registered textures).
    explicit Texture(std::string name);
    // Same with a chosen id; for registries other than the global one.
    Texture(std::string name, std::string id);

    // Uploads width x height RGBA pixels (8 bits per channel, rows tightly packed) into a new
    // OpenGL texture with linear filtering (so pictures drawn larger than their pixels on a
    // scaled display stay smooth), replacing the one of an earlier upload; the caller's
    // texture binding is left as it was.
    // Needs a current OpenGL context. Returns false, with an error reported, when no texture
    // could be made (no context, null pixels, a non-positive size); then nothing is uploaded.
    bool CopyToGpu(const std::uint8_t* pixels, int width, int height);

    const std::string& GetId() const { return id_; }
    const std::string& GetName() const { return name_; }
    int GetWidth() const { return width_; }
    int GetHeight() const { return height_; }
    std::uint32_t GetGLTexture() const { return glTexture_; }
    bool IsUploaded() const { return uploaded_; }

    // The handle image widgets take: a pointer to this texture's id, valid while the
    // texture lives (registered textures live until the process ends).
    void* GetHandle() const { return const_cast<std::string*>(&id_); }

private:
    std::string id_;
    bool uploaded_ = false;
    int width_ = 0;
    int height_ = 0;
    std::string name_;
    std::uint32_t glTexture_ = 0;
};

// Makes a texture named `name` from RGBA pixels, uploads and registers it. Returns none for
// null pixels or a non-positive size (silently), or when the upload fails (reported).
std::shared_ptr<Texture> CreateTexture(const std::string& name, const std::uint8_t* pixels,
                                       int width, int height);

// Decodes an encoded image (PNG, JPEG...) and does what CreateTexture does. Undecodable
// bytes report "Texture::LoadTexture -> failed loading <name>" and give none.
std::shared_ptr<Texture> LoadTexture(const std::string& name, const std::uint8_t* data,
                                     std::size_t size);

// Finds a registered texture by name or by id; none if neither matches.
std::shared_ptr<Texture> GetTexture(const std::string& key);

}  // namespace vesk
