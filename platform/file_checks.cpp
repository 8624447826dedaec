#include "platform/file_checks.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <string>

#include "platform/path_text.h"
#include "platform/text.h"

#ifdef _WIN32
#include <direct.h>
#include <io.h>
#include <windows.h>
#else
#include <sys/statvfs.h>
#include <unistd.h>
#endif

namespace sfx::platform {

namespace {

#ifdef _WIN32
using Status = struct _stati64;
int StatusOf(const char* path, Status& info) {
    return _stati64(path, &info);
}
constexpr int ReadAccess = 4;
constexpr int WriteAccess = 2;
int Access(const char* path, int mode) {
    return _access(path, mode);
}
int MakeFolder(const char* path) {
    return _mkdir(path);
}
#else
using Status = struct stat;
int StatusOf(const char* path, Status& info) {
    return stat(path, &info);
}
constexpr int ReadAccess = R_OK;
constexpr int WriteAccess = W_OK | X_OK;
int Access(const char* path, int mode) {
    return access(path, mode);
}
int MakeFolder(const char* path) {
    return mkdir(path, 0777);
}
#endif

// One read of at most `capacity` bytes from the stream's file, bypassing its buffer: the
// count read, 0 at the end, -1 on an error (error says which). A read cut short by a
// signal is tried again.
long ReadSome(std::FILE* stream, char* bytes, std::size_t capacity, int& error) {
    for (;;) {
#ifdef _WIN32
        const long got = _read(_fileno(stream), bytes, static_cast<unsigned>(capacity));
#else
        const long got = static_cast<long>(read(fileno(stream), bytes, capacity));
#endif
        if (got >= 0)
            return got;
        if (errno != EINTR) {
            error = errno;
            return -1;
        }
    }
}

}  // namespace

Target TargetOf(const char* path, int& error) {
    Status info;
    if (StatusOf(path, info) != 0) {
        error = errno;
        return Target::Missing;
    }
    if ((info.st_mode & S_IFMT) == S_IFDIR)
        return Target::Folder;
    if ((info.st_mode & S_IFMT) == S_IFREG)
        return Target::RegularFile;
    return Target::Other;
}

bool CanRead(const char* path, int& error) {
    if (Access(path, ReadAccess) == 0)
        return true;
    error = errno;
    return false;
}

bool CanCreateIn(const char* folder, int& error) {
    const char* where = folder[0] == '\0' ? "." : folder;
    if (TargetOf(where, error) == Target::Missing)
        return false;
    if (TargetOf(where, error) != Target::Folder) {
        error = ENOTDIR;
        return false;
    }
    if (Access(where, WriteAccess) == 0)
        return true;
    error = errno;
    return false;
}

bool IsDeviceFolder(const char* folder) {
#ifdef _WIN32
    (void)folder;
    return false;
#else
    Status info;
    if (StatusOf(folder[0] == '\0' ? "." : folder, info) != 0)
        return false;
    for (const char* system : {"/dev", "/proc"}) {
        Status systemInfo;
        if (StatusOf(system, systemInfo) == 0 && systemInfo.st_dev == info.st_dev)
            return true;
    }
    return false;
#endif
}

bool CanOpenFiles(int count, int& error) {
    constexpr int Most = 8;
    int opened[Most];
    int made = 0;
    bool all = true;
    for (; made < count && made < Most; ++made) {
#ifdef _WIN32
        opened[made] = _open("NUL", _O_RDONLY);
#else
        opened[made] = open("/dev/null", O_RDONLY | O_CLOEXEC);
#endif
        if (opened[made] < 0) {
            error = errno;
            all = false;
            break;
        }
    }
    for (int i = 0; i < made; ++i) {
#ifdef _WIN32
        _close(opened[i]);
#else
        close(opened[i]);
#endif
    }
    return all;
}

long long FreeBytes(const char* folder) {
    const char* where = folder[0] == '\0' ? "." : folder;
#ifdef _WIN32
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(where, &available, nullptr, nullptr))
        return -1;
    return static_cast<long long>(available.QuadPart);
#else
    struct statvfs info;
    if (statvfs(where, &info) != 0)
        return -1;
    return static_cast<long long>(info.f_bavail) * static_cast<long long>(info.f_frsize);
#endif
}

bool CreateFolders(const char* folder, int& error) {
    // Each prefix that ends before a separator, then the whole path, made when missing. A
    // prefix that can't be made (a drive, a network share) is no failure by itself: the
    // first folder that could not be made says why.
    const std::string path = folder;
    int firstFailure = 0;
    for (std::size_t end = 1; end <= path.size(); ++end) {
        if (end < path.size() && !IsNativeSeparator(path[end]))
            continue;
        if (IsNativeSeparator(path[end - 1]))
            continue;  // "a//b": nothing between the separators
        const std::string prefix = path.substr(0, end);
        int ignored = 0;
        if (TargetOf(prefix.c_str(), ignored) == Target::Folder)
            continue;
        if (MakeFolder(prefix.c_str()) != 0 && errno != EEXIST && firstFailure == 0)
            firstFailure = errno;
    }
    // The Windows runtime's stat refuses a folder named with a final separator.
    std::string whole = path;
    while (whole.size() > 1 && IsNativeSeparator(whole.back()) && whole[whole.size() - 2] != ':')
        whole.pop_back();
    const Target kind = TargetOf(whole.c_str(), error);
    if (kind == Target::Folder)
        return true;
    if (firstFailure != 0)
        error = firstFailure;
    else if (kind != Target::Missing)
        error = ENOTDIR;
    return false;
}

long ReadLine(std::FILE* stream, char* line, std::size_t capacity, bool& ended, int& error) {
    const auto readSome = [&](char* into, std::size_t most) {
        return ReadSome(stream, into, most, error);
    };
    return platform::ReadLine(readSome, line, capacity, ended);
}

}  // namespace sfx::platform
