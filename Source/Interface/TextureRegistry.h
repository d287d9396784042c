// The process-wide texture registry: texture name -> id and id -> texture. Textures are
// never removed; the first texture registered under a name keeps that name. UI thread only
// (no lock): the OpenGL context and every caller live there.
#pragma once

#include <memory>
#include <string>
#include <unordered_map>

namespace vesk {

class Texture;

class TextureRegistry {
public:
    // The registry behind CreateTexture, LoadTexture and GetTexture.
    static TextureRegistry& Global();

    // Five characters of the texture-id alphabet, not yet used by a registered texture.
    std::string NewId() const;

    // Adds `texture` under its id and, if the name is still free, under its name. Returns
    // false and changes nothing when the texture is null or its id is already registered.
    bool Register(const std::shared_ptr<Texture>& texture);

    // Looks `key` up as a name first, then as an id. A name whose id has gone is dropped.
    std::shared_ptr<Texture> Find(const std::string& key);

    std::size_t Size() const { return textures_.size(); }

private:
    std::unordered_map<std::string, std::string> names_;
    std::unordered_map<std::string, std::shared_ptr<Texture>> textures_;
};

// The characters texture ids are drawn from.
inline constexpr const char* TextureIdAlphabet =
    "abcdefghijklmnaoqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
inline constexpr unsigned TextureIdLength = 5;

}  // namespace vesk
