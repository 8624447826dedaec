#include "platform/file_calls.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>

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

}  // namespace

bool Move(const char* from, const char* to, bool replace) {
    return replace ? std::rename(from, to) == 0 : MoveNoReplace(from, to);
}

mode_t CurrentUmask() {
    const mode_t mask = umask(0);
    umask(mask);
    return mask;
}
#endif

}  // namespace sfx::platform
