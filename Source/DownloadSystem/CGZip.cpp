// zlib gzip file writer.
#include "DownloadSystem/CGZip.h"

#include <zlib.h>

#include <string>

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
    if (path.empty())
        return false;
#if defined(_WIN32)
    // The wide name: a narrow one goes through the ANSI code page, which cannot name every
    // user's folder ("Jörg" on a Greek system, any name before UTF-8 code pages).
    const std::wstring wide(path.begin(), path.end());
    file_ = gzopen_w(wide.c_str(), "wb");
#else
    file_ = gzopen(vesk::StringUtils::ToNarrow(path).c_str(), "wb");
#endif
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
