// The engine's shared file helpers, over the platform file service.
#include "DownloadSystem/FileSystem.h"

#include "Platform/Files.h"
#include "Platform/Paths.h"
#include "Platform/SystemError.h"
#include "Support/ErrorLog.h"
#include "Support/StringUtils.h"

namespace DownloadSystem {

using vesk::StringUtils;

void FileSystem::GetExecutableDirectory(std::string& directory) {
    std::string path = StringUtils::ToNarrow(Platform::Paths::ExecutablePath());
    // Either separator: the platform's own ("/" here, "\" on Windows).
    const std::size_t cut = path.find_last_of("/\\");
    if (cut != std::string::npos)
        path.resize(cut);
    directory = path;
}

std::uint64_t FileSystem::GetFileLength(const std::u16string& path) {
    if (!Platform::Files::Exists(path))
        return 0;
    Platform::File file = Platform::File::OpenForReading(path);
    if (!file.IsOpen())
        return 0;
    std::uint64_t size = 0;
    if (!file.Size(size)) {
        VESK_REPORT_ERROR("GetFileSizeEx failed", Platform::LastSystemError());
        return 0;
    }
    return size;
}

void FileSystem::ReadWholeFile(const std::u16string& path, vesk::ByteBuffer& data) {
    data.Free();
    Platform::File file = Platform::File::OpenForReading(path);
    if (!file.IsOpen()) {
        VESK_REPORT_ERROR("Couldn't read file " + StringUtils::ToNarrow(path),
                          Platform::LastSystemError());
        return;
    }
    std::uint64_t size = 0;
    if (!file.Size(size)) {
        VESK_REPORT_ERROR("Unable to read from file" + StringUtils::ToNarrow(path),
                          Platform::LastSystemError());
        return;
    }
    if (size == 0)
        return;
    if (!data.Allocate(size)) {
        VESK_REPORT_ERROR("Unable to read from file" + StringUtils::ToNarrow(path),
                          Platform::LastSystemError());
        return;
    }
    // Read until the buffer is full or the file ends early (it may have shrunk meanwhile).
    std::uint64_t filled = 0;
    while (filled < size) {
        std::size_t got = 0;
        if (!file.Read(data.Data() + filled, static_cast<std::size_t>(size - filled), got)) {
            // Never hand out a buffer whose tail was not read: callers would take it for
            // the file's contents.
            const int error = Platform::LastSystemError();
            data.Free();
            VESK_REPORT_ERROR("Unable to read from file" + StringUtils::ToNarrow(path), error);
            return;
        }
        if (got == 0)
            break;
        filled += got;
    }
    if (filled < size && !data.Resize(filled))
        data.Free();
}

}  // namespace DownloadSystem
