#include "platform/platform.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <initializer_list>

#include "platform/interrupts.h"
#include "platform/own_file.h"
#include "platform/path_text.h"

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

namespace {

constexpr int TrackedSlots = 4;
#ifdef _WIN32
constexpr std::size_t TrackedPathSize = 260 * BytesPerPathCharacter;  // MAX_PATH characters
#else
constexpr std::size_t TrackedPathSize = PathCapacity;  // PATH_MAX
#endif
char trackedPaths[TrackedSlots][TrackedPathSize];
volatile std::sig_atomic_t trackedInUse[TrackedSlots];

void DeleteQuietly(const char* path) {
#ifdef _WIN32
    const WidePath wide(path);
    if (wide.ok)
        DeleteFileW(wide.text);
#else
    unlink(path);                                      // async-signal-safe, unlike remove()
#endif
}

}  // namespace

void TrackTemporary(const char* path) {
    const std::size_t length = strnlen(path, TrackedPathSize);
    if (length >= TrackedPathSize)
        return;
    for (int i = 0; i < TrackedSlots; ++i) {
        if (trackedInUse[i] == 0) {
            std::memcpy(trackedPaths[i], path, length + 1);
            trackedInUse[i] = 1;
            return;
        }
    }
}

void UntrackTemporary(const char* path) {
    for (int i = 0; i < TrackedSlots; ++i) {
        if (trackedInUse[i] != 0 && std::strcmp(trackedPaths[i], path) == 0)
            trackedInUse[i] = 0;
    }
}

void RemoveTrackedTemporaries() {
    for (int i = 0; i < TrackedSlots; ++i) {
        if (trackedInUse[i] != 0) {
            DeleteQuietly(trackedPaths[i]);
            trackedInUse[i] = 0;
        }
    }
}

#ifndef _WIN32
bool CatchInterrupt(int signal, void (*handler)(int), struct sigaction& saved) {
    struct sigaction current;
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
        return false;
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    for (int interrupt : InterruptSignals) sigaddset(&action.sa_mask, interrupt);
    return sigaction(signal, &action, &saved) == 0;
}
#endif

#ifdef _WIN32
namespace {
BOOL WINAPI RemoveOnConsoleEvent(DWORD) {
    RemoveTrackedTemporaries();
    return FALSE;  // the default handler ends the process
}
}  // namespace

void RemoveTemporariesOnInterrupt(bool on) {
    SetConsoleCtrlHandler(RemoveOnConsoleEvent, on ? TRUE : FALSE);
}
#else
namespace {
struct sigaction savedActions[InterruptCount];
bool installed[InterruptCount];

void RemoveAndRaise(int signal) {
    RemoveTrackedTemporaries();
    for (int i = 0; i < InterruptCount; ++i) {
        if (InterruptSignals[i] == signal)
            sigaction(signal, &savedActions[i], nullptr);
    }
    raise(signal);
}
}  // namespace

void RemoveTemporariesOnInterrupt(bool on) {
    for (int i = 0; i < InterruptCount; ++i) {
        if (on && !installed[i]) {
            installed[i] = CatchInterrupt(InterruptSignals[i], RemoveAndRaise, savedActions[i]);
        } else if (!on && installed[i]) {
            sigaction(InterruptSignals[i], &savedActions[i], nullptr);
            installed[i] = false;
        }
    }
}
#endif

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

const char* NullDevicePath() {
#ifdef _WIN32
    return "NUL";
#else
    return "/dev/null";
#endif
}

bool TempFolder(char* folderOut, std::size_t capacity) {
#ifdef _WIN32
    // GetTempPathW's answer ends with a backslash; 0 or a size over the capacity is a failure.
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    return length > 0 && length <= MAX_PATH && NarrowPath(folder, folderOut, capacity);
#else
    const char* folder = std::getenv("TMPDIR");
    if (folder == nullptr || folder[0] == '\0')
        folder = "/tmp";
    std::size_t length = strnlen(folder, capacity);
    const bool needsSeparator = folder[length - 1] != '/';
    if (length + (needsSeparator ? 1 : 0) + 1 > capacity)
        return false;
    std::memcpy(folderOut, folder, length);
    if (needsSeparator)
        folderOut[length++] = '/';
    folderOut[length] = '\0';
    return true;
#endif
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
