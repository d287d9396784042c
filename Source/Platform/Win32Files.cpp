// Windows backend of Files.h: CreateFileW handles, wrapped in C runtime descriptors
// (_open_osfhandle) so File keeps one small integer on every platform; ReadFile,
// WriteFile, GetFileSizeEx, GetFileAttributesExW, DeleteFileW, CreateDirectoryW.
#include "Platform/Files.h"
#include "Platform/FilesBackend.h"

#include <windows.h>

#include <fcntl.h>
#include <io.h>

#include <algorithm>
#include <utility>

#include "Platform/Win32Text.h"

namespace Platform {

void CloseQuietly(int descriptor) {
    const DWORD saved = GetLastError();
    _close(descriptor);
    SetLastError(saved);
}

namespace {

HANDLE NativeHandle(int descriptor) {
    return reinterpret_cast<HANDLE>(_get_osfhandle(descriptor));
}

// Closes without disturbing the caller's last error: a close on a failure path must not
// replace the error that caused it.

int OpenNative(const std::u16string& path, DWORD access, DWORD share, DWORD disposition,
               int runtimeFlags) {
    std::wstring native;
    if (!Win32::ToNativePath(path, native)) {
        return -1;
    }
    // No security attributes: the handle is not inherited by programs started later.
    const HANDLE handle = CreateFileW(native.c_str(), access, share, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        return -1;
    }
    const int descriptor = _open_osfhandle(reinterpret_cast<intptr_t>(handle), runtimeFlags);
    if (descriptor < 0) {
        CloseHandle(handle);
        SetLastError(ERROR_TOO_MANY_OPEN_FILES);
    }
    return descriptor;
}

bool ReadAttributes(const std::u16string& path, WIN32_FILE_ATTRIBUTE_DATA& data) {
    std::wstring native;
    return Win32::ToNativePath(path, native) &&
           GetFileAttributesExW(native.c_str(), GetFileExInfoStandard, &data);
}

}  // namespace

File File::OpenForReading(const std::u16string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (ReadAttributes(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        // What CreateFileW itself answers for a folder opened as a file.
        SetLastError(ERROR_ACCESS_DENIED);
        return File();
    }
    return File(
        OpenNative(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING, _O_RDONLY | _O_BINARY));
}

File File::CreateForWriting(const std::u16string& path) {
    return File(OpenNative(path, GENERIC_WRITE, 0, CREATE_ALWAYS, _O_WRONLY | _O_BINARY));
}

File File::OpenForAppending(const std::u16string& path) {
    // Only this handle writes the file, so placing it at the end once is enough.
    File file(OpenNative(path, GENERIC_WRITE, 0, OPEN_EXISTING, _O_WRONLY | _O_BINARY));
    if (file.IsOpen() &&
        !SetFilePointerEx(NativeHandle(file.descriptor_), LARGE_INTEGER{}, nullptr, FILE_END)) {
        return File();
    }
    return file;
}

bool File::Read(void* buffer, std::size_t size, std::size_t& bytesRead) {
    bytesRead = 0;
    if (descriptor_ < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    auto* bytes = static_cast<char*>(buffer);
    while (bytesRead < size) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size - bytesRead, 1u << 30));
        DWORD got = 0;
        if (!ReadFile(NativeHandle(descriptor_), bytes + bytesRead, piece, &got, nullptr)) {
            return false;
        }
        if (got == 0) {
            break;
        }
        bytesRead += got;
    }
    return true;
}

bool File::Write(const void* data, std::size_t size) {
    if (descriptor_ < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    const auto* bytes = static_cast<const char*>(data);
    std::size_t written = 0;
    while (written < size) {
        const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size - written, 1u << 30));
        DWORD put = 0;
        if (!WriteFile(NativeHandle(descriptor_), bytes + written, piece, &put, nullptr)) {
            return false;
        }
        if (put == 0) {
            SetLastError(ERROR_DISK_FULL);
            return false;
        }
        written += put;
    }
    return true;
}

bool File::Size(std::uint64_t& size) const {
    size = 0;
    LARGE_INTEGER value{};
    if (descriptor_ < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    if (!GetFileSizeEx(NativeHandle(descriptor_), &value)) {
        return false;
    }
    size = static_cast<std::uint64_t>(value.QuadPart);
    return true;
}

bool File::Truncate(std::uint64_t size) {
    std::uint64_t current = 0;
    if (!Size(current)) {
        return false;
    }
    if (size > current) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(size);
    // The handle's position is where the next write goes: the new end.
    return SetFilePointerEx(NativeHandle(descriptor_), position, nullptr, FILE_BEGIN) &&
           SetEndOfFile(NativeHandle(descriptor_));
}

bool File::Close() {
    if (descriptor_ < 0) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    // _close ends in CloseHandle, whose failure (a late write-back) is reported here.
    SetLastError(ERROR_SUCCESS);
    if (_close(std::exchange(descriptor_, -1)) != 0) {
        if (GetLastError() == ERROR_SUCCESS) {
            SetLastError(ERROR_WRITE_FAULT);
        }
        return false;
    }
    return true;
}

namespace Files {

bool GetAttributes(const std::u16string& path, Attributes& attributes) {
    attributes = {};
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!ReadAttributes(path, data)) {
        return false;
    }
    attributes.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    attributes.readOnly = (data.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0;
    return true;
}

bool Exists(const std::u16string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return ReadAttributes(path, data);
}

bool IsDirectory(const std::u16string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    return ReadAttributes(path, data) && (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool GetSize(const std::u16string& path, std::uint64_t& size) {
    size = 0;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!ReadAttributes(path, data)) {
        return false;
    }
    size = (static_cast<std::uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    return true;
}

bool Remove(const std::u16string& path) {
    std::wstring native;
    return Win32::ToNativePath(path, native) && DeleteFileW(native.c_str());
}

bool MakeDirectory(const std::u16string& path) {
    std::wstring native;
    return Win32::ToNativePath(path, native) && CreateDirectoryW(native.c_str(), nullptr);
}

bool MakeDirectoryPath(const std::u16string& path) {
    std::wstring native;
    if (!Win32::ToNativePath(path, native)) {
        return false;
    }
    while (native.size() > 1 && (native.back() == L'\\' || native.back() == L'/')) {
        native.pop_back();
    }
    // Every prefix that ends before a separator, then the whole path. Prefixes that name a
    // drive ("C:"), a device or share root ("\\server\share", "\\?\C:") exist or cannot be
    // made; they are only checked, never created.
    for (std::size_t end = 0; end <= native.size(); ++end) {
        if (end < native.size() && native[end] != L'\\' && native[end] != L'/') {
            continue;
        }
        const std::wstring part = native.substr(0, end);
        if (part.empty() || part.back() == L':' || part.back() == L'\\' || part.back() == L'?' ||
            part.back() == L'.') {
            continue;
        }
        const DWORD attributes = GetFileAttributesW(part.c_str());
        if (attributes != INVALID_FILE_ATTRIBUTES) {
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
                SetLastError(ERROR_DIRECTORY);
                return false;
            }
            continue;
        }
        if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            // A share root or device prefix cannot be created but may still hold the rest.
            if (part.rfind(L"\\\\", 0) == 0 && end < native.size()) {
                continue;
            }
            return false;
        }
    }
    return IsDirectory(Win32::FromWide(native));
}

bool MakeExecutable(const std::u16string& path) {
    return Exists(path);
}

bool IsNotFoundError(int errorNumber) {
    return errorNumber == ERROR_FILE_NOT_FOUND || errorNumber == ERROR_PATH_NOT_FOUND;
}

}  // namespace Files

}  // namespace Platform
