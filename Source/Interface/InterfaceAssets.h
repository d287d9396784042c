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
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "Support/ByteBuffer.h"

namespace vesk {

class Texture;
class Tavrin_Thread;

// Makes a texture from an encoded image; none when the bytes do not decode.
using TextureLoader =
    std::function<std::shared_ptr<Texture>(const std::string&, const std::uint8_t*, std::size_t)>;

class InterfaceAssets {
public:
    // --- Asset thread, before MarkFetched -------------------------------------------
    // Both drop the bytes once the UI thread has given up waiting.
    void AddCoreImage(const std::string& key, ByteBuffer bytes);
    void AddMediaImage(const std::string& key, ByteBuffer bytes);
    // Publishes the images added so far to the UI thread; nothing is added after it. Does
    // nothing once the UI thread has given up.
    void MarkFetched();
    bool IsFetched() const { return fetched_.load(std::memory_order_acquire); }
    // True once the UI thread stopped waiting: further transfers are pointless.
    bool IsGivenUp() const { return givenUp_.load(std::memory_order_acquire); }
    // Registers the transfer about to run so that GiveUp can stop it; false (start nothing)
    // once given up. EndTransfer forgets it again.
    bool BeginTransfer(std::shared_ptr<Tavrin_Thread> transfer);
    void EndTransfer();
    // Reports a failure of the asset phase to the error log, or, once given up, only logs
    // it: the download run that follows must not end on the error screen because a picture
    // nobody waits for any more failed.
    void ReportFailure(const std::string& message);

    // --- UI thread --------------------------------------------------------------------
    // Once fetched or given up: turns the first (smallest key) waiting core image and the
    // first waiting media image into textures with `load` and drops their bytes, also when
    // decoding failed. True when fetched or given up and nothing waits any more.
    bool Process(const TextureLoader& load);
    // Stops waiting for pictures that are not fetched yet: the program goes on with those
    // that arrived so far (Process still turns them into textures), the transfer in flight
    // is stopped (from a helper thread, so this never blocks) and whatever arrives later is
    // dropped. Nothing changes once they are fetched. Returns true when it gave up (false
    // when the pictures were already in).
    bool GiveUp();
    // Bytes of the added images not yet turned into textures (or dropped).
    std::size_t WaitingBytes() const;

    // None for an empty or unknown key.
    std::shared_ptr<Texture> GetCoreTexture(const std::string& key) const;
    // Slideshow images in ascending key order.
    const std::vector<std::shared_ptr<Texture>>& GetMediaTextures() const { return mediaTextures_; }

private:
    std::map<std::string, ByteBuffer> coreImageBytes_;
    std::map<std::string, ByteBuffer> mediaImageBytes_;
    std::map<std::string, std::shared_ptr<Texture>> coreTextures_;
    std::vector<std::shared_ptr<Texture>> mediaTextures_;
    // Orders MarkFetched and GiveUp, and the additions against GiveUp: after one of the two
    // has happened the other never does. The maps are read by the UI thread only once
    // fetched or given up, and then nothing writes them any more.
    mutable std::mutex publishLock_;
    std::atomic<bool> fetched_{false};
    std::atomic<bool> givenUp_{false};
    std::shared_ptr<Tavrin_Thread> transfer_;
};

// The images a description (meta.json) names: per group, key -> URL in key order; a
// member whose value is not a string has an empty URL.
struct InterfaceDescription {
    std::map<std::string, std::string> core;
    std::map<std::string, std::string> media;
};

// Reads a description's text. False, with the failure's text in `failure`, when the text is empty
// or not JSON; a missing group is an empty one here (FetchInterfaceAssets reports it).
bool ReadInterfaceDescription(std::string_view text, InterfaceDescription& description,
                              std::string& failure);

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
// log; a missing picture never stops the program. Blocks for the transfers; once the UI
// thread has given up waiting, no further transfer is started.
void FetchInterfaceAssets(InterfaceAssets& assets, const std::u16string& host,
                          const std::u16string& version);

}  // namespace vesk
