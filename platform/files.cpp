#include "platform/files.h"

#include <cerrno>
#include <csignal>

#include "platform/path_text.h"
#include "platform/temporaries.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <sys/stat.h>
#include <windows.h>
// windows.h names ReplaceFileA so; this layer has an operation of that name.
#undef ReplaceFile
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>
#endif

namespace sfx::platform {

std::FILE* OpenFile(const char* path, const char* mode) {
#ifdef _WIN32
    const WidePath wide(path);
    wchar_t wideMode[8] = {};
    for (std::size_t i = 0; i + 1 < sizeof wideMode / sizeof wideMode[0] && mode[i] != '\0'; ++i)
        wideMode[i] = static_cast<unsigned char>(mode[i]);
    std::FILE* file = wide.ok ? _wfopen(wide.text, wideMode) : nullptr;
#else
    std::FILE* file = std::fopen(path, mode);
    // POSIX opens a folder for reading; Windows does not, and neither do we.
    struct stat info;
    if (file != nullptr && fstat(fileno(file), &info) == 0 && S_ISDIR(info.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
#endif
    return file;
}

bool SeekFromEnd(std::FILE* file, std::int64_t distance) {
#ifdef _WIN32
    return _fseeki64(file, -distance, SEEK_END) == 0;
#else
    return fseeko(file, static_cast<off_t>(-distance), SEEK_END) == 0;
#endif
}

std::int64_t FileLength(std::FILE* file) {
#ifdef _WIN32
    struct _stati64 info;
    if (_fstati64(_fileno(file), &info) != 0)
        return -1;
    return info.st_size;
#else
    struct stat info;
    if (fstat(fileno(file), &info) != 0)
        return -1;
    return info.st_size;
#endif
}

// Files stop being tracked only once they are gone or moved: an interrupt in between then
// deletes nothing that is not ours.
bool RemoveFile(const char* path) {
#ifdef _WIN32
    const WidePath wide(path);
    const bool removed = wide.ok && DeleteFileW(wide.text) != 0;
#else
    const bool removed = ::unlink(path) == 0;  // remove() would also take an empty folder
#endif
    UntrackTemporary(path);
    return removed;
}

bool ReplaceFile(const char* from, const char* to) {
#ifdef _WIN32
    const WidePath wideFrom(from);
    const WidePath wideTo(to);
    const bool moved = wideFrom.ok && wideTo.ok &&
                       MoveFileExW(wideFrom.text, wideTo.text,
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    // rename() would replace an empty directory
    const bool moved = !IsDirectory(to) && std::rename(from, to) == 0;
#endif
    if (moved)
        UntrackTemporary(from);
    return moved;
}

bool PathExists(const char* path) {
#ifdef _WIN32
    const WidePath wide(path);
    return wide.ok && GetFileAttributesW(wide.text) != INVALID_FILE_ATTRIBUTES;
#else
    struct stat info;
    return lstat(path, &info) == 0;
#endif
}

bool IsDirectory(const char* path) {
#ifdef _WIN32
    const WidePath wide(path);
    const DWORD attributes = wide.ok ? GetFileAttributesW(wide.text) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

#ifdef _WIN32
namespace {
// The volume and file index of an existing file; false when it can't be opened.
bool FileIdentity(const char* path, BY_HANDLE_FILE_INFORMATION& info) {
    const WidePath wide(path);
    if (!wide.ok)
        return false;
    HANDLE handle =
        CreateFileW(wide.text, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    const bool known = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    return known;
}
}  // namespace
#endif

bool SameFile(const char* first, const char* second) {
#ifdef _WIN32
    BY_HANDLE_FILE_INFORMATION a, b;
    return FileIdentity(first, a) && FileIdentity(second, b) &&
           a.dwVolumeSerialNumber == b.dwVolumeSerialNumber &&
           a.nFileIndexHigh == b.nFileIndexHigh && a.nFileIndexLow == b.nFileIndexLow;
#else
    struct stat a, b;
    return stat(first, &a) == 0 && stat(second, &b) == 0 && a.st_dev == b.st_dev &&
           a.st_ino == b.st_ino;
#endif
}

PathKind KindOf(const char* path) {
#ifdef _WIN32
    const WidePath wide(path);
    if (!wide.ok)
        return PathKind::Other;  // no name a file could have
    const DWORD attributes = GetFileAttributesW(wide.text);
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND
                   ? PathKind::Missing
                   : PathKind::Other;
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return PathKind::Directory;
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return PathKind::Link;
    // Device names ("NUL", "COM1") and pipes answer too; only a disk file is regular.
    HANDLE handle =
        CreateFileW(wide.text, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return PathKind::Regular;  // held by another program; it is still a file
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    return type == FILE_TYPE_DISK ? PathKind::Regular : PathKind::Other;
#else
    struct stat info;
    if (lstat(path, &info) != 0)
        return errno == ENOENT ? PathKind::Missing : PathKind::Other;
    if (S_ISREG(info.st_mode))
        return PathKind::Regular;
    if (S_ISLNK(info.st_mode))
        return PathKind::Link;
    if (S_ISDIR(info.st_mode))
        return PathKind::Directory;
    return PathKind::Other;
#endif
}

bool LeadsElsewhere(const char* path) {
#ifdef _WIN32
    const WidePath wide(path);
    const DWORD attributes = wide.ok ? GetFileAttributesW(wide.text) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
    struct stat info;
    struct stat target;
    return lstat(path, &info) == 0 && S_ISLNK(info.st_mode) && stat(path, &target) == 0 &&
           !S_ISREG(target.st_mode);
#endif
}

bool MayWrite(const char* path) {
#ifdef _WIN32
    const WidePath wide(path);
    const DWORD attributes = wide.ok ? GetFileAttributesW(wide.text) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY);
#else
    return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
#endif
}

void IgnoreWriteSignals() {
#ifndef _WIN32
    std::signal(SIGPIPE, SIG_IGN);
    std::signal(SIGXFSZ, SIG_IGN);
#endif
}

bool UseBinaryMode(std::FILE* stream) {
#ifdef _WIN32
    return _setmode(_fileno(stream), _O_BINARY) != -1;
#else
    (void)stream;
    return true;
#endif
}

std::FILE* OpenDescriptor(int number) {
#ifdef _WIN32
    (void)number;
    errno = EBADF;
    return nullptr;
#else
    const int copy = fcntl(number, F_DUPFD_CLOEXEC, 3);
    if (copy < 0)
        return nullptr;
    std::FILE* stream = fdopen(copy, "wb");
    if (stream == nullptr) {
        const int error = errno;
        close(copy);
        errno = error;
    }
    return stream;
#endif
}

std::FILE* OpenNullDevice() {
#ifdef _WIN32
    return std::fopen("NUL", "wb");
#else
    // Only the device itself: never a file or link that stands in its place.
    const int fd = open("/dev/null", O_WRONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return nullptr;
    struct stat status;
    std::FILE* stream = nullptr;
    if (fstat(fd, &status) == 0 && S_ISCHR(status.st_mode))
        stream = fdopen(fd, "wb");
    if (stream == nullptr)
        close(fd);
    return stream;
#endif
}

}  // namespace sfx::platform
