// Image decoding of the bytes the interface host sends.
#include <cstdlib>

#include "FuzzInput.h"
#include "Interface/ImageDecoder.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const auto image = vesk::DecodeImage(data, size);
    if (image && image->pixels.size() != static_cast<std::size_t>(image->width) *
                                             static_cast<std::size_t>(image->height) * 4) {
        std::abort();
    }
    return 0;
}
