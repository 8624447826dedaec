#include "platform/file_calls.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "platform/own_file.h"
#include "platform/path_text.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#if defined(__linux__)
#include <sys/random.h>
#endif
#endif

namespace sfx::platform {

#ifdef _WIN32
namespace {

// A file another program holds for a moment (a virus scanner, the indexer, a sync client)
// refuses to be moved or deleted; such a refusal is tried again for about two seconds.
bool Busy() {
    const DWORD error = GetLastError();
    return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED ||
           error == ERROR_LOCK_VIOLATION;
}

template <typename Attempt>
bool Retried(Attempt attempt) {
    for (int tries = 0;; ++tries) {
        if (attempt())
            return true;
        if (tries == 40 || !Busy())
            return false;
        Sleep(50);
    }
}

}  // namespace

std::FILE* CreateNewFile(const char* path) {
    const WidePath wide(path);
    if (!wide.ok) {
        SetLastError(ERROR_INVALID_NAME);
        return nullptr;
    }
    HANDLE handle =
        CreateFileW(wide.text, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return nullptr;
    const int descriptor =
        _open_osfhandle(reinterpret_cast<std::intptr_t>(handle), _O_RDWR | _O_BINARY);
    if (descriptor < 0) {
        CloseHandle(handle);
        return nullptr;
    }
    std::FILE* stream = _fdopen(descriptor, "w+b");
    if (stream == nullptr)
        _close(descriptor);
    return stream;
}

bool Clashed() {
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
}

bool Delete(const char* path) {
    const WidePath wide(path);
    return wide.ok && Retried([&] { return DeleteFileW(wide.text) != 0; });
}

bool RandomBytes(void* bytes, std::size_t count) {
    // RtlGenRandom, exported by advapi32 since Windows XP under this name.
    using GenRandom = BOOLEAN(WINAPI*)(PVOID, ULONG);
    static GenRandom generate = nullptr;
    if (generate == nullptr) {
        wchar_t library[MAX_PATH + 32];
        const UINT length = GetSystemDirectoryW(library, MAX_PATH);
        if (length == 0 || length >= MAX_PATH)
            return false;
        const wchar_t name[] = L"\\advapi32.dll";
        for (std::size_t i = 0; i < sizeof name / sizeof name[0]; ++i)
            library[length + i] = name[i];
        HMODULE module = LoadLibraryW(library);
        if (module == nullptr)
            return false;
        generate = reinterpret_cast<GenRandom>(
            reinterpret_cast<void*>(GetProcAddress(module, "SystemFunction036")));
        if (generate == nullptr)
            return false;
    }
    return generate(bytes, static_cast<ULONG>(count)) != FALSE;
}

bool Move(const char* from, const char* to, bool replace) {
    const WidePath wideFrom(from);
    const WidePath wideTo(to);
    if (!wideFrom.ok || !wideTo.ok) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
    return Retried([&] { return MoveFileExW(wideFrom.text, wideTo.text, flags) != 0; });
}
#else
std::FILE* CreateNewFile(const char* path) {
    const int descriptor =
        ::open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, S_IRUSR | S_IWUSR);
    if (descriptor < 0)
        return nullptr;
    std::FILE* stream = fdopen(descriptor, "w+b");
    if (stream == nullptr)
        ::close(descriptor);
    return stream;
}

bool Clashed() {
    return errno == EEXIST;
}

bool Delete(const char* path) {
    return ::unlink(path) == 0;
}

namespace {

// Moves without ever replacing: an atomic no-replace rename where the file system has one,
// else a hard link and an unlink, else a check and a rename.
bool MoveNoReplace(int fromFolder, const char* from, int toFolder, const char* to) {
#ifdef RENAME_NOREPLACE
    if (renameat2(fromFolder, from, toFolder, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
#endif
    if (::linkat(fromFolder, from, toFolder, to, 0) == 0) {
        ::unlinkat(fromFolder, from, 0);  // placed; a second name left would be harmless
        return true;
    }
    if (errno == EEXIST)
        return false;
    struct stat info;
    if (fstatat(toFolder, to, &info, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return false;
    }
    return renameat(fromFolder, from, toFolder, to) == 0;
}

}  // namespace

bool Move(const char* from, const char* to, bool replace) {
    return replace ? std::rename(from, to) == 0 : MoveNoReplace(AT_FDCWD, from, AT_FDCWD, to);
}

bool MoveNoReplaceAt(int folder, const char* from, const char* to) {
    return MoveNoReplace(folder, from, folder, to);
}

bool RandomBytes(void* bytes, std::size_t count) {
    auto* at = static_cast<unsigned char*>(bytes);
#if defined(__linux__)
    while (count > 0) {
        const ssize_t got = getrandom(at, count, 0);
        if (got <= 0) {
            if (got < 0 && errno == EINTR)
                continue;
            break;  // an old kernel: the device below
        }
        at += got;
        count -= static_cast<std::size_t>(got);
    }
    if (count == 0)
        return true;
#endif
    const int device = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (device < 0)
        return false;
    struct stat info;
    bool filled = fstat(device, &info) == 0 && S_ISCHR(info.st_mode);
    while (filled && count > 0) {
        const ssize_t got = ::read(device, at, count);
        if (got < 0 && errno == EINTR)
            continue;
        filled = got > 0;
        if (filled) {
            at += got;
            count -= static_cast<std::size_t>(got);
        }
    }
    ::close(device);
    return filled;
}

int HoldFolder(const char* path, std::size_t folderLength) {
    char folder[PathCapacity];
    if (folderLength == 0) {
        std::memcpy(folder, ".", 2);
    } else {
        if (folderLength >= sizeof folder) {
            errno = ENAMETOOLONG;
            return -1;
        }
        std::memcpy(folder, path, folderLength);
        folder[folderLength] = '\0';
    }
#ifdef O_PATH
    // Searching the folder is enough to create in it: it need not be readable.
    return ::open(folder, O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
    return ::open(folder, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
}

mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}
#endif

namespace {

// Only where the system's random source gives nothing: a name that still changes from one
// attempt to the next.
std::uint32_t NextFallback() {
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

std::uint32_t NextRandom() {
    std::uint32_t bits = 0;
    return RandomBytes(&bits, sizeof bits) ? bits : NextFallback();
}

}  // namespace

void RandomName(char* name, std::size_t length) {
    static const char digits[] = "0123456789abcdefghijklmnopqrstuvwxyz";
    const bool full = length >= 14;
    std::size_t at = 0;
    if (full) {
        std::memcpy(name, "~sfx", 4);
        at = 4;
    } else {
        name[at++] = '~';
    }
    const std::size_t randomEnd = full ? 10 : length;
    std::uint32_t bits = NextRandom();
    for (int used = 0; at < randomEnd; ++at, ++used) {
        if (used == 6) {
            bits = NextRandom();
            used = 0;
        }
        name[at] = digits[bits % 36];
        bits /= 36;
    }
    if (full)
        std::memcpy(name + 10, ".tmp", 4);
    name[full ? 14 : length] = '\0';
}

}  // namespace sfx::platform
