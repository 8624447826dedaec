#include "platform/platform.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

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
    return std::fopen(path, mode);
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

bool RemoveFile(const char* path) {
    return std::remove(path) == 0;
}

bool ReplaceFile(const char* from, const char* to) {
#ifdef _WIN32
    return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
#else
    if (IsDirectory(to))
        return false;  // rename() would replace an empty directory
    return std::rename(from, to) == 0;
#endif
}

bool PathExists(const char* path) {
#ifdef _WIN32
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
#else
    struct stat info;
    return lstat(path, &info) == 0;
#endif
}

bool IsDirectory(const char* path) {
#ifdef _WIN32
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
#else
    struct stat info;
    return stat(path, &info) == 0 && S_ISDIR(info.st_mode);
#endif
}

namespace {

// Length of the folder part of a path, separator included ("" for a bare name).
std::size_t FolderLength(const char* path) {
    std::size_t folder = 0;
    for (std::size_t i = 0; path[i] != '\0'; ++i) {
        if (path[i] == '/' || path[i] == '\\' || (i == 1 && path[i] == ':'))
            folder = i + 1;
    }
    return folder;
}

std::uint32_t NextRandom() {
    static std::uint32_t state = 0;
    if (state == 0) {
#ifdef _WIN32
        state = static_cast<std::uint32_t>(GetTickCount()) ^
                (static_cast<std::uint32_t>(GetCurrentProcessId()) << 16);
#else
        state = static_cast<std::uint32_t>(time(nullptr)) ^
                (static_cast<std::uint32_t>(getpid()) << 16);
#endif
        state |= 1;
    }
    // xorshift32
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

bool CreateExclusive(const char* path) {
#ifdef _WIN32
    HANDLE handle =
        CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    CloseHandle(handle);
    return true;
#else
    int fd = ::open(path, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0)
        return false;
    ::close(fd);
    return true;
#endif
}

}  // namespace

bool CreateUniqueSibling(const char* siblingPath, char* pathOut, std::size_t capacity) {
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    constexpr std::size_t nameLength = 14;  // "~sfx" + 6 random + ".tmp"
    std::size_t folder = FolderLength(siblingPath);
    if (folder + nameLength + 1 > capacity)
        return false;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::memcpy(pathOut, siblingPath, folder);
        char* name = pathOut + folder;
        std::memcpy(name, "~sfx", 4);
        std::uint32_t bits = NextRandom();
        for (int i = 0; i < 6; ++i) {
            name[4 + i] = digits[bits % 36];
            bits /= 36;
        }
        std::memcpy(name + 10, ".tmp", 5);
        if (CreateExclusive(pathOut))
            return true;
        if (PathExists(pathOut))
            continue;  // a clash: try another name
        return false;  // the folder is not writable
    }
    return false;
}

namespace {
int allocationsLeft = -1;
}

void* Allocate(std::size_t size) {
    if (allocationsLeft == 0)
        return nullptr;
    if (allocationsLeft > 0)
        --allocationsLeft;
    return std::malloc(size);
}

void Release(void* block) {
    std::free(block);
}

void FailAllocationsAfter(int count) {
    allocationsLeft = count;
}

}  // namespace sfx::platform
