#include "platform/own_file.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <ctime>

#include "platform/path_text.h"
#include "platform/platform.h"

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include "platform/interrupts.h"
#endif

namespace sfx::platform {

namespace {

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

// Writes a fresh name of `length` (5 to 14) characters at `name`: "~sfx", six random
// characters and ".tmp" when there is room, "~" and random characters otherwise.
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

// Blocks the interrupts between creating a file and tracking it, so that an interrupt never
// leaves an untracked file behind.
struct InterruptsHeld {
#ifdef _WIN32
    InterruptsHeld() {}  // console events arrive on a thread of their own
#else
    sigset_t saved;
    InterruptsHeld() {
        sigset_t interrupts;
        sigemptyset(&interrupts);
        for (int signal : InterruptSignals) sigaddset(&interrupts, signal);
        pthread_sigmask(SIG_BLOCK, &interrupts, &saved);
    }
    ~InterruptsHeld() {
        pthread_sigmask(SIG_SETMASK, &saved, nullptr);
    }
#endif
};

#ifdef _WIN32
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

std::FILE* CreateNew(const char* path) {
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
std::FILE* CreateNew(const char* path) {
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

// Moves without ever replacing: an atomic no-replace rename where the file system has one,
// else a hard link and an unlink, else a check and a rename.
bool MoveNoReplace(const char* from, const char* to) {
#ifdef RENAME_NOREPLACE
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS && errno != ENOTSUP)
        return false;
#endif
    if (::link(from, to) == 0) {
        ::unlink(from);  // placed; a second name left behind would be harmless
        return true;
    }
    if (errno == EEXIST)
        return false;
    struct stat info;
    if (lstat(to, &info) == 0) {
        errno = EEXIST;
        return false;
    }
    return std::rename(from, to) == 0;
}

bool Move(const char* from, const char* to, bool replace) {
    return replace ? std::rename(from, to) == 0 : MoveNoReplace(from, to);
}

mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}
#endif

}  // namespace

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

bool MayWrite(const char* path) {
#ifdef _WIN32
    const WidePath wide(path);
    const DWORD attributes = wide.ok ? GetFileAttributesW(wide.text) : INVALID_FILE_ATTRIBUTES;
    return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_READONLY);
#else
    return faccessat(AT_FDCWD, path, W_OK, AT_EACCESS) == 0;
#endif
}

bool OwnFile::CreateBeside(const char* siblingPath) {
    Remove();
    const std::size_t folder = FolderLength(siblingPath);
    // The platform counts a path's length in characters; each name character is one byte.
    constexpr std::size_t characterCapacity = PathCapacity / BytesPerPathCharacter;
    const std::size_t folderCharacters =
        PathLength(siblingPath, PathCapacity) - PathLength(siblingPath + folder, PathCapacity);
    if (folder + 5 + 1 > PathCapacity || folderCharacters + 5 + 1 > characterCapacity)
        return false;
    std::size_t nameLength = characterCapacity - 1 - folderCharacters;
    if (nameLength > 14)
        nameLength = 14;
    for (int attempt = 0; attempt < 100; ++attempt) {
        std::memcpy(path, siblingPath, folder);
        RandomName(path + folder, nameLength);
        InterruptsHeld held;
        stream = CreateNew(path);
        if (stream != nullptr) {
            TrackTemporary(path);
            present = true;
            // The passes hand over whole chunks: a stream buffer would only add a copy.
            std::setvbuf(stream, nullptr, _IONBF, 0);
            return true;
        }
        if (!Clashed())
            return false;  // the folder takes no new file
    }
    return false;
}

bool OwnFile::Close() {
    if (stream == nullptr)
        return true;
    const bool stored = std::fclose(stream) == 0;
    stream = nullptr;
    return stored;
}

void OwnFile::Remove() {
    Close();
    if (!present)
        return;
    Delete(path);
    UntrackTemporary(path);
    present = false;
}

namespace {

#ifndef _WIN32
// Copies the whole of `file` (closed) into the existing regular file at destination, in
// place, as a "wb" open and writes would have done.
bool CopyInto(const OwnFile& file, const char* destination) {
    const int from = ::open(file.path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (from < 0)
        return false;
    const int to = ::open(destination, O_WRONLY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info;
    bool copied =
        to >= 0 && fstat(to, &info) == 0 && S_ISREG(info.st_mode) && ftruncate(to, 0) == 0;
    static char buffer[64 * 1024];
    while (copied) {
        const ssize_t got = ::read(from, buffer, sizeof buffer);
        if (got <= 0) {
            copied = got == 0;
            break;
        }
        for (ssize_t at = 0; copied && at < got;) {
            const ssize_t put = ::write(to, buffer + at, static_cast<std::size_t>(got - at));
            copied = put > 0;
            at += put;
        }
    }
    ::close(from);
    if (to >= 0 && ::close(to) != 0)
        copied = false;
    return copied;
}
#endif

#ifndef _WIN32
// Gives the staged file what a "wb" open would have left at the destination.
void TakeOverAttributes(std::FILE* stream, const struct stat* existing) {
    const int descriptor = fileno(stream);
    if (existing == nullptr) {
        fchmod(descriptor, 0666 & ~CurrentUmask());
        return;
    }
    if (fchown(descriptor, existing->st_uid, existing->st_gid) != 0 &&
        fchown(descriptor, static_cast<uid_t>(-1), existing->st_gid) != 0) {
        // Not ours to give away: the file stays the process's own.
    }
    fchmod(descriptor, existing->st_mode & 0777);
}
#endif

}  // namespace

Placement PlaceFile(OwnFile& file, const char* destination, bool replace) {
    if (!file.present)
        return Placement::Failed;
    const PathKind kind = KindOf(destination);
    if (kind == PathKind::Directory || kind == PathKind::Other)
        return Placement::Failed;
    if (kind != PathKind::Missing && !replace)
        return Placement::Taken;
    if (kind == PathKind::Regular && !MayWrite(destination))
        return Placement::Failed;  // a read-only file, as a "wb" open would find it

#ifndef _WIN32
    struct stat existing;
    const bool isRegular = kind == PathKind::Regular && lstat(destination, &existing) == 0;
    if (file.stream != nullptr)
        TakeOverAttributes(file.stream, isRegular ? &existing : nullptr);
#endif
    if (!file.Close())
        return Placement::Failed;

    if (Move(file.path, destination, kind != PathKind::Missing)) {
        UntrackTemporary(file.path);
        file.present = false;
        return Placement::Placed;
    }
    if (kind == PathKind::Missing && Clashed()) {
        // Something appeared meanwhile.
        return replace ? PlaceFile(file, destination, true) : Placement::Taken;
    }
#ifdef _WIN32
    return Placement::Failed;
#else
    // A writable file in a folder that takes no new file (or on another file system) is
    // written in place.
    if (kind != PathKind::Regular || !CopyInto(file, destination))
        return Placement::Failed;
    file.Remove();
    return Placement::Placed;
#endif
}

std::FILE* CreateNewFile(const char* path) {
    return CreateNew(path);
}

bool CreateUniqueSibling(const char* siblingPath, char* pathOut, std::size_t capacity) {
    OwnFile file;
    if (!file.CreateBeside(siblingPath))
        return false;
    const std::size_t length = strnlen(file.path, sizeof file.path);
    if (length >= capacity)
        return false;  // deleted again as `file` goes
    std::memcpy(pathOut, file.path, length + 1);
#ifndef _WIN32
    // Made for a program's output, which gets the usual permissions.
    fchmod(fileno(file.stream), 0666 & ~CurrentUmask());
#endif
    file.Close();
    file.present = false;  // the caller's now, still tracked until it is moved or deleted
    return true;
}

void KeepFile(OwnFile& file, const char* preferredPath) {
    if (!file.present)
        return;
    file.Close();
    UntrackTemporary(file.path);
    file.present = false;
    const std::size_t length = strnlen(preferredPath, PathCapacity);
    if (length < PathCapacity && Move(file.path, preferredPath, false))
        std::memcpy(file.path, preferredPath, length + 1);
}

}  // namespace sfx::platform
