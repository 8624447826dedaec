#include <cstdio>

#include "platform/file_calls.h"
#include "platform/files.h"
#include "platform/own_file.h"
#include "platform/temporaries.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace sfx::platform {

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

}  // namespace sfx::platform
