// The interface's pictures fetched from the content server: the asset thread downloads the
// description and every image it names into memory; the UI thread turns them into textures,
// one image of each group per frame. Nothing is stored on disk.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "Support/ByteBuffer.h"

namespace vesk {

class Texture;

// Makes a texture from an encoded image; none when the bytes do not decode.
using TextureLoader =
    std::function<std::shared_ptr<Texture>(const std::string&, const std::uint8_t*, std::size_t)>;

class InterfaceAssets {
public:
    // --- Asset thread, before MarkFetched -------------------------------------------
    void AddCoreImage(const std::string& key, ByteBuffer bytes);
    void AddMediaImage(const std::string& key, ByteBuffer bytes);
    // Publishes the images added so far to the UI thread; nothing is added after it.
    void MarkFetched() { fetched_.store(true, std::memory_order_release); }
    bool IsFetched() const { return fetched_.load(std::memory_order_acquire); }

    // --- UI thread --------------------------------------------------------------------
    // Once fetched: turns the first (smallest key) waiting core image and the first waiting
    // media image into textures with `load` and drops their bytes, also when decoding
    // failed. True when fetched and nothing waits any more.
    bool Process(const TextureLoader& load);

    // None for an empty or unknown key.
    std::shared_ptr<Texture> GetCoreTexture(const std::string& key) const;
    // Slideshow images in ascending key order.
    const std::vector<std::shared_ptr<Texture>>& GetMediaTextures() const { return mediaTextures_; }

private:
    std::map<std::string, ByteBuffer> coreImageBytes_;
    std::map<std::string, ByteBuffer> mediaImageBytes_;
    std::map<std::string, std::shared_ptr<Texture>> coreTextures_;
    std::vector<std::shared_ptr<Texture>> mediaTextures_;
    std::atomic<bool> fetched_{false};
};

// The images a description (meta.json) names: per group, key -> URL in key order; a
// member whose value is not a string has an empty URL.
struct InterfaceDescription {
    std::map<std::string, std::string> core;
    std::map<std::string, std::string> media;
};

// Reads a description's text. False, with the failure reported, when the text is empty
// or not JSON; a missing group is an empty one here (FetchInterfaceAssets reports it).
bool ReadInterfaceDescription(std::string_view text, InterfaceDescription& description);

// Where an image URL is fetched from: "host" or "host:port", and the path without the
// query.
struct ImageLocation {
    std::u16string server;
    std::u16string path;
};
ImageLocation LocateImage(const std::string& url);

// The asset thread's work: downloads "/downloadmanager/<version>/meta.json" from `host`
// ("name" or "name:port") and every image its "core" and "media" objects name, adds them
// to `assets` and marks them fetched, whatever failed. Failures are reported to the error
// log; a missing picture never stops the program. Blocks for all transfers.
void FetchInterfaceAssets(InterfaceAssets& assets, const std::u16string& host,
                          const std::u16string& version);

}  // namespace vesk
