// The platform-neutral half of Files.h: a File's ownership of its descriptor.
#include "Platform/Files.h"

#include <utility>

#include "Platform/FilesBackend.h"

namespace Platform {

File::~File() {
    if (descriptor_ >= 0) {
        CloseQuietly(descriptor_);
    }
}

File::File(File&& other) noexcept : descriptor_(std::exchange(other.descriptor_, -1)) {}

File& File::operator=(File&& other) noexcept {
    if (this != &other) {
        if (descriptor_ >= 0) {
            CloseQuietly(descriptor_);
        }
        descriptor_ = std::exchange(other.descriptor_, -1);
    }
    return *this;
}

}  // namespace Platform
