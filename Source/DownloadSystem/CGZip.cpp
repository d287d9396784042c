// zlib gzip file writer.
#include "DownloadSystem/CGZip.h"

#include <zlib.h>

#include "Support/ByteBuffer.h"
#include "Support/StringUtils.h"

namespace zlib {

CGZip::~CGZip() {
    if (file_ != nullptr)
        gzclose(file_);
}

bool CGZip::Open(const std::u16string& path, int mode) {
    if (file_ != nullptr || mode != ModeWrite)
        return false;
    const std::string narrow = vesk::StringUtils::ToNarrow(path);
    if (narrow.empty())
        return false;
    file_ = gzopen(narrow.c_str(), "wb");
    if (file_ == nullptr) {
        mode_ = ModeClosed;
        return false;
    }
    mode_ = ModeWrite;
    gzsetparams(file_, level_, strategy_);
    return true;
}

bool CGZip::Close() {
    if (file_ == nullptr)
        return false;
    const int result = gzclose(file_);
    file_ = nullptr;
    mode_ = ModeClosed;
    return result == Z_OK;
}

bool CGZip::Write(const void* bytes, unsigned int length) {
    if (file_ == nullptr || mode_ != ModeWrite)
        return false;
    if (length == 0)
        return true;
    return gzwrite(file_, bytes, length) == static_cast<int>(length);
}

bool CGZip::WriteString(const char16_t* text) {
    if (text == nullptr)
        return false;
    return WriteString(std::u16string_view(text));
}

bool CGZip::WriteString(std::u16string_view text) {
    if (file_ == nullptr || mode_ != ModeWrite)
        return false;
    if (text.empty())
        return true;
    // Little-endian code units whatever the machine's byte order.
    vesk::ByteBuffer bytes;
    if (!bytes.Append(text))
        return false;
    return Write(bytes.Data(), static_cast<unsigned int>(bytes.Size()));
}

void CGZip::ApplyParameters() {
    if (file_ != nullptr && mode_ == ModeWrite)
        gzsetparams(file_, level_, strategy_);
}

}  // namespace zlib
