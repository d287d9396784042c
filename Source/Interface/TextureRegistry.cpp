// The texture registry's maps and id allocation.
#include "TextureRegistry.h"

#include "Interface/Texture.h"
#include "Support/Formatting.h"

namespace vesk {

TextureRegistry& TextureRegistry::Global() {
    // Never destroyed: textures stay valid for draws issued up to the very end of the process.
    static TextureRegistry* registry = new TextureRegistry();
    return *registry;
}

std::string TextureRegistry::NewId() const {
    std::string id;
    do {
        id = RandomString(TextureIdLength, TextureIdAlphabet);
    } while (textures_.count(id) != 0);
    return id;
}

bool TextureRegistry::Register(const std::shared_ptr<Texture>& texture) {
    if (!texture || textures_.count(texture->GetId()) != 0) {
        return false;
    }
    textures_.emplace(texture->GetId(), texture);
    names_.emplace(texture->GetName(), texture->GetId());
    return true;
}

std::shared_ptr<Texture> TextureRegistry::Find(const std::string& key) {
    if (auto name = names_.find(key); name != names_.end()) {
        if (auto texture = textures_.find(name->second); texture != textures_.end()) {
            return texture->second;
        }
        names_.erase(name);
    }
    if (auto texture = textures_.find(key); texture != textures_.end()) {
        return texture->second;
    }
    return nullptr;
}

}  // namespace vesk
