// Files and folders: opening, reading, writing, measuring and deleting files,
// attributes, and creating folders. Paths are UTF-16 text at every caller.
//
// Writing another backend: implement every call below with the system's own file
// service. Every failing call returns false (or an empty/closed result) and leaves
// the system's error number for LastSystemError() (SystemError.h): errno values on
// Linux, GetLastError values on Windows. Nothing here logs; callers record failures.
// Names avoid the Win32 macro names (DeleteFile, CreateDirectory, GetFileSize) so
// the Windows backend can include the system headers without clashes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "Platform/SystemError.h"

namespace Platform {

// One open file, closed when the object goes. Move-only.
//
// Sharing: a file opened for reading may be read by others at the same time; a file
// created for writing is meant for this handle alone (Windows refuses other openers;
// Linux has no mandatory locks, so there it is a convention, not enforced).
// Handles are not inherited by programs this process starts.
class File {
public:
    File() = default;
    ~File();
    File(File&& other) noexcept;
    File& operator=(File&& other) noexcept;
    File(const File&) = delete;
    File& operator=(const File&) = delete;

    // Opens an existing file for reading. Missing file: closed result, ENOENT
    // (ERROR_FILE_NOT_FOUND / ERROR_PATH_NOT_FOUND on Windows). A folder cannot be
    // opened this way (EISDIR).
    static File OpenForReading(const std::u16string& path);

    // Creates the file for writing, emptying it when it exists. Its folder must exist
    // (ENOENT otherwise).
    static File CreateForWriting(const std::u16string& path);

    // Opens an existing file for writing at its end, keeping what it holds (a download
    // that goes on where it stopped). Missing file: closed result, ENOENT.
    static File OpenForAppending(const std::u16string& path);

    bool IsOpen() const { return descriptor_ >= 0; }

    // Reads up to `size` bytes into `buffer`, filling it unless the end of the file
    // comes first. `bytesRead` is 0 at the end of the file. Returns false on a read
    // failure (bytesRead then holds what was read before it).
    bool Read(void* buffer, std::size_t size, std::size_t& bytesRead);

    // Writes all `size` bytes. Returns false when not all could be written (a full
    // disk gives ENOSPC).
    bool Write(const void* data, std::size_t size);

    // The file's current size in bytes (64-bit, files over 4 GiB included).
    bool Size(std::uint64_t& size) const;

    // Cuts a file opened for writing to `size` bytes (a larger size is refused with EINVAL /
    // ERROR_INVALID_PARAMETER); an appending file then goes on writing at the new end.
    bool Truncate(std::uint64_t size);

    // Closes the handle; true when the file was open and closed cleanly (a late
    // write-back failure shows here). Closing a closed file returns false (EBADF).
    bool Close();

private:
    explicit File(int descriptor) : descriptor_(descriptor) {}
    int descriptor_ = -1;
};

namespace Files {

struct Attributes {
    bool directory = false;
    bool readOnly = false;  // this process may not write to it
};

// Attributes of a file or folder; false when it does not exist or cannot be
// examined (ENOENT, EACCES, ENOTDIR, ...). Symbolic links are followed.
bool GetAttributes(const std::u16string& path, Attributes& attributes);

// True when something exists at `path` (file, folder or other).
bool Exists(const std::u16string& path);

// True when `path` is an existing folder.
bool IsDirectory(const std::u16string& path);

// Size of the file at `path` without keeping it open (64-bit).
bool GetSize(const std::u16string& path, std::uint64_t& size);

// Deletes a file (not a folder: EISDIR). Missing file: false, ENOENT.
bool Remove(const std::u16string& path);

// Creates one folder; its parent must exist. An existing folder or file: false, EEXIST
// (ERROR_ALREADY_EXISTS on Windows).
bool MakeDirectory(const std::u16string& path);

// Creates a folder and every missing folder above it. True when the folder exists
// afterwards (already existing is success); false when a part cannot be created or
// is a file (ENOTDIR).
bool MakeDirectoryPath(const std::u16string& path);

// Lets the file be run as a program by its owner, group and others who may read it
// (adds execute permission where read permission is given). Windows needs no such
// step: its backend only checks that the file exists.
bool MakeExecutable(const std::u16string& path);

// True when `errorNumber` means "no such file or folder" on this platform.
bool IsNotFoundError(int errorNumber);

}  // namespace Files

}  // namespace Platform
