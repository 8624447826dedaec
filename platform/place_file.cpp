#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/file_calls.h"
#include "platform/files.h"
#include "platform/interrupts.h"
#include "platform/own_file.h"
#include "platform/path_text.h"
#include "platform/temporaries.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>
#if defined(__linux__)
#include <sys/xattr.h>
#endif
#endif

namespace sfx::platform {

namespace {

#ifndef _WIN32
// What stands at `name` in `folder`, a final link not followed; `info` describes it. For
// what can't be replaced, errno says why.
PathKind KindAt(int folder, const char* name, struct stat& info) {
    if (fstatat(folder, name, &info, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? PathKind::Missing : PathKind::Other;
    if (S_ISREG(info.st_mode))
        return PathKind::Regular;
    errno = S_ISDIR(info.st_mode) ? EISDIR : EEXIST;
    if (S_ISLNK(info.st_mode)) {
        // A link to a folder, FIFO, device or socket is never replaced; a link to a file, or
        // to nothing, is, its target untouched.
        struct stat target;
        if (fstatat(folder, name, &target, 0) == 0 && !S_ISREG(target.st_mode))
            return PathKind::Other;
        return PathKind::Link;
    }
    return S_ISDIR(info.st_mode) ? PathKind::Directory : PathKind::Other;
}

#if defined(__linux__)
// Copies the extended attributes of `from`, POSIX ACLs among them, onto `to`; what the
// process may not set is left out, as it would be for a file the process writes.
void CopyExtendedAttributes(int from, int to) {
    static char names[64 * 1024];  // the kernel's limit for a list
    static char value[64 * 1024];  // and for a value
    const ssize_t length = flistxattr(from, names, sizeof names);
    for (ssize_t at = 0; at < length;) {
        const char* name = names + at;
        at += static_cast<ssize_t>(strnlen(name, static_cast<std::size_t>(length - at))) + 1;
        const ssize_t size = fgetxattr(from, name, value, sizeof value);
        if (size >= 0)
            fsetxattr(to, name, value, static_cast<std::size_t>(size), 0);
    }
}
#endif

// Gives the staged file what the existing regular file `name` has that a "wb" open would
// have kept: owner and group where the process may give them, extended attributes, mode.
void TakeOverAttributes(int descriptor, int folder, const char* name, const struct stat& found) {
    struct stat existing = found;
    const int old = ::openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat opened;
    if (old >= 0 && fstat(old, &opened) == 0 && S_ISREG(opened.st_mode))
        existing = opened;
    if (fchown(descriptor, existing.st_uid, existing.st_gid) != 0 &&
        fchown(descriptor, static_cast<uid_t>(-1), existing.st_gid) != 0) {
        // Not ours to give away: the file stays the process's own.
    }
#if defined(__linux__)
    if (old >= 0 && S_ISREG(opened.st_mode))
        CopyExtendedAttributes(old, descriptor);
#endif
    if (old >= 0)
        ::close(old);
    // After the ACL: with one, the group bits are its mask, as they were.
    fchmod(descriptor, existing.st_mode & 0777);
}

// Links the unnamed file behind `descriptor` as `name` in `folder`; never replaces.
bool LinkUnnamed(int descriptor, int folder, const char* name) {
    char self[64];
    std::snprintf(self, sizeof self, "/proc/self/fd/%d", descriptor);
    if (::linkat(AT_FDCWD, self, folder, name, AT_SYMLINK_FOLLOW) == 0)
        return true;
#ifdef AT_EMPTY_PATH
    if (errno == ENOENT && ::access("/proc/self/fd", X_OK) != 0)
        return ::linkat(descriptor, "", folder, name, AT_EMPTY_PATH) == 0;
#endif
    return false;
}

// Puts the unnamed file over what stands at `name`: linked under a fresh name of its own
// beside it, then moved over it, so that the name never stands for anything but the old
// file or the new one.
bool ReplaceWithUnnamed(OwnFile& file, const char* name) {
    char sibling[PathCapacity];
    for (int attempt = 0; attempt < 100; ++attempt) {
        RandomName(sibling, 14);
        InterruptsHeld held;
        if (!LinkUnnamed(fileno(file.stream), file.folder, sibling)) {
            if (errno == EEXIST)
                continue;
            return false;
        }
        if (::renameat(file.folder, sibling, file.folder, name) == 0)
            return true;
        const int error = errno;
        ::unlinkat(file.folder, sibling, 0);
        errno = error;
        return false;
    }
    return false;
}

// Puts the staged file, in the destination's held folder, at `name`. kind: what stands there.
bool PutInFolder(OwnFile& file, const char* name, PathKind kind) {
    if (file.unnamed) {
        return kind == PathKind::Missing ? LinkUnnamed(fileno(file.stream), file.folder, name)
                                         : ReplaceWithUnnamed(file, name);
    }
    // Moved while still open: after a clash it is still ours to try again.
    const bool moved = kind == PathKind::Missing
                           ? MoveNoReplaceAt(file.folder, file.Name(), name)
                           : ::renameat(file.folder, file.Name(), file.folder, name) == 0;
    if (moved)
        UntrackTemporaryAt(file.folder, file.Name());
    return moved;
}

// Places the file staged in the destination's own folder, everything relative to that
// folder as it was when the file was made.
Placement PlaceInFolder(OwnFile& file, const char* name, bool replace) {
    const int descriptor = fileno(file.stream);
    for (int attempt = 0; attempt < 100; ++attempt) {
        struct stat existing;
        const PathKind kind = KindAt(file.folder, name, existing);
        if (kind == PathKind::Directory || kind == PathKind::Other)
            return Placement::Failed;
        if (kind != PathKind::Missing && !replace)
            return Placement::Taken;
        if (kind == PathKind::Regular) {
            // A read-only file, as a "wb" open would find it.
            if (faccessat(file.folder, name, W_OK, AT_EACCESS) != 0)
                return Placement::Failed;
            TakeOverAttributes(descriptor, file.folder, name, existing);
        } else if (!file.unnamed) {
            // A named stand-in was made owner-only; an unnamed one has the usual mode.
            fchmod(descriptor, 0666 & ~CurrentUmask());
        }
        // What replaces a file is on the disk before the old one goes.
        if (kind != PathKind::Missing && fsync(descriptor) != 0)
            return Placement::Failed;
        if (PutInFolder(file, name, kind)) {
            file.present = false;
            // The stream is unbuffered: nothing is left to store as it closes.
            file.Remove();  // closes the stream and lets the folder go
            return Placement::Placed;
        }
        if (kind != PathKind::Missing || errno != EEXIST)
            return Placement::Failed;
        if (!replace)
            return Placement::Taken;
        // Something appeared meanwhile: replaced as what it is.
    }
    return Placement::Failed;
}

// The room for `length` bytes in the open file `to`, taken before anything is written: false
// (errno set) when the file system, the free space or the file-size limit forbids it.
bool Reserve(int to, off_t length, off_t present) {
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        static_cast<rlim_t>(length) > limit.rlim_cur) {
        errno = EFBIG;
        return false;
    }
#if defined(__linux__) && defined(FALLOC_FL_KEEP_SIZE)
    if (length == 0 || fallocate(to, FALLOC_FL_KEEP_SIZE, 0, length) == 0)
        return true;
    if (errno != EOPNOTSUPP && errno != ENOSYS && errno != EINVAL)
        return false;
#endif
    // No reservation here: the free space must hold what the file grows by.
    struct statvfs info;
    if (length <= present || fstatvfs(to, &info) != 0)
        return true;
    if (static_cast<unsigned long long>(info.f_bavail) * info.f_frsize <
        static_cast<unsigned long long>(length - present)) {
        errno = ENOSPC;
        return false;
    }
    return true;
}

// Overwrites `to` with the `length` bytes of `from`, from the first byte on, then cuts it
// to that length. `started` tells whether any byte of `to` was written.
bool Overwrite(int from, int to, off_t length, bool& started) {
    static char buffer[64 * 1024];
    for (off_t at = 0; at < length;) {
        const ssize_t got = ::pread(from, buffer, sizeof buffer, at);
        if (got <= 0) {
            if (got == 0)
                errno = EIO;  // the staged file ended early
            return false;
        }
        for (ssize_t done = 0; done < got;) {
            const ssize_t put =
                ::pwrite(to, buffer + done, static_cast<std::size_t>(got - done), at + done);
            if (put <= 0)
                return false;
            started = true;
            done += put;
        }
        at += got;
    }
    return ftruncate(to, length) == 0;
}

// Copies the whole of `file` into the existing regular file at destination, in place, as a
// "wb" open and writes would have done but that the old bytes stay until the new ones are
// sure to fit, and an interrupt waits until the copy is done.
Placement CopyInto(OwnFile& file, const char* destination) {
    const int from = fileno(file.stream);
    const int to = ::open(destination, O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat fromInfo, toInfo;
    if (to < 0)
        return Placement::Failed;
    Placement result = Placement::Failed;
    bool started = false;
    if (fstat(from, &fromInfo) != 0 || fstat(to, &toInfo) != 0) {
        // errno says why
    } else if (!S_ISREG(toInfo.st_mode)) {
        errno = EEXIST;
    } else if (Reserve(to, fromInfo.st_size, toInfo.st_size)) {
        InterruptsHeld held;
        if (Overwrite(from, to, fromInfo.st_size, started))
            result = Placement::Placed;
    }
    const int error = errno;
    if (::close(to) != 0 && result == Placement::Placed) {
        result = Placement::Failed;
        started = true;
    } else {
        errno = error;
    }
    return result != Placement::Placed && started ? Placement::Damaged : result;
}
#endif

}  // namespace

Placement PlaceFile(OwnFile& file, const char* destination, bool replace) {
    if (!file.present) {
        errno = EINVAL;
        return Placement::Failed;
    }
#ifdef _WIN32
    const PathKind kind = KindOf(destination);
    if (kind == PathKind::Directory || kind == PathKind::Other)
        return Placement::Failed;
    if (kind != PathKind::Missing && !replace)
        return Placement::Taken;
    if (kind == PathKind::Regular && !MayWrite(destination))
        return Placement::Failed;  // a read-only file, as a "wb" open would find it
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
    return Placement::Failed;
#else
    const std::size_t folderLength = FolderLength(destination);
    if (file.folder >= 0 && file.stream != nullptr && file.nameAt == folderLength &&
        std::memcmp(file.path, destination, folderLength) == 0)
        return PlaceInFolder(file, destination + folderLength, replace);
    // Staged elsewhere: the destination's folder takes no new file, and only a writable
    // file there can be written, in place.
    const PathKind kind = KindOf(destination);
    if (kind != PathKind::Regular) {
        // Nothing left to write in place; a link there could only be replaced by a new file.
        errno = kind == PathKind::Missing ? ENOENT : EACCES;
        return kind == PathKind::Missing || replace ? Placement::Failed : Placement::Taken;
    }
    if (!replace)
        return Placement::Taken;
    if (!MayWrite(destination) || file.stream == nullptr)
        return Placement::Failed;
    const Placement placed = CopyInto(file, destination);
    if (placed == Placement::Placed)
        file.Remove();
    return placed;
#endif
}

}  // namespace sfx::platform
