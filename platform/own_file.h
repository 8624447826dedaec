// Files an extraction creates for itself: new, owner-only, never reached through a link,
// deleted on every path but the one that keeps them, and the one move that puts a verified
// file in its place.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/path_text.h"

namespace sfx::platform {

// A file created by this run. While `present`, it is on disk, tracked for deletion on an
// interrupt, and removed by the destructor unless it has been placed or kept. Where the
// system lets a folder be held open (POSIX), the file is created, moved and removed relative
// to its folder as it was when the file was made, whatever later happens to the folder's
// path; it may also have no name at all until it is placed (`unnamed`, Linux's O_TMPFILE),
// so that nobody can open it and a crash leaves nothing behind.
struct OwnFile {
    char path[PathCapacity] = {};  // the folder's path and the file's name ("" when unnamed)
    std::FILE* stream = nullptr;   // open for writing and reading back, unbuffered
    bool present = false;
    bool unnamed = false;
    int folder = -1;         // the held folder (POSIX), -1 elsewhere
    std::size_t nameAt = 0;  // where the file's name starts in `path`

    OwnFile() = default;
    OwnFile(const OwnFile&) = delete;
    OwnFile& operator=(const OwnFile&) = delete;
    ~OwnFile() { Remove(); }

    // Creates a new file with a name of its own in the folder of `siblingPath` (mode 0600,
    // CREATE_NEW, deletable while open). The name is short enough that the new path is no
    // longer than the platform allows whenever siblingPath is. False when the folder takes
    // no new file.
    bool CreateBeside(const char* siblingPath);
    // Creates the file that will be put at `destination`: where the system can, an unnamed
    // file in the destination's folder with the permissions a "wb" open would give a new
    // file there (the folder's default ACL included), or owner-only when `privately` (a file
    // only copied from); else as CreateBeside does. False when the folder takes no new file.
    bool CreateFor(const char* destination, bool privately = false);
    // Closes the stream; false when bytes written before could not be stored.
    bool Close();
    // Closes and deletes the file (retried while another program holds it for a moment),
    // and lets its folder go.
    void Remove();
    // The file's name within its folder.
    const char* Name() const { return path + nameAt; }
};

// Creates a new file at `path` as OwnFile creates its files (exclusively, owner-only, never
// through a link), open for writing and reading back; nullptr when anything stands there.
std::FILE* CreateNewFile(const char* path);

// Creates a new empty file, beside `siblingPath` (in the same folder), whose name clashes
// with nothing that exists, as OwnFile creates its files but with the usual permissions;
// writes its path into pathOut (capacity bytes) and returns its stream, open for writing,
// which the caller closes. The file stays tracked until it is moved or deleted. Null when
// no such file can be created.
std::FILE* CreateUniqueSibling(const char* siblingPath, char* pathOut, std::size_t capacity);

// Damaged: a copy in place failed after its first byte; the destination holds part of the
// new file.
enum class Placement { Placed, Taken, Failed, Damaged };

// Puts the verified `file` at `destination` as a plain "wb" open would have left it:
//   - nothing there: a new file with the usual permissions (0666 minus the umask, or what
//     the folder's default ACL gives);
//   - a regular file: replaced when `replace` allows it and the file is writable, keeping
//     its permission bits, extended attributes (ACL entries among them) and, where the
//     process may set them, its owner and group; flushed to the disk before it replaces the
//     old one. A file staged elsewhere (its folder takes no new file) is copied into the
//     destination instead, which keeps all of its own: room for the new length is reserved
//     first, the old bytes are overwritten without cutting the file first, and interrupts
//     wait until the copy is done;
//   - a link to a regular file or to nothing: the link is replaced, its target never touched;
//   - a folder, FIFO, device or socket, or a link to one: Failed, left alone.
// Hard links to a replaced file keep the old content: the destination becomes a new file.
// Without `replace` nothing is ever replaced, not even what appeared meanwhile (Taken).
// The file is closed and stops being ours once Placed; on failure it stays ours. errno
// tells why it failed.
Placement PlaceFile(OwnFile& file, const char* destination, bool replace);

// Keeps `file` for the user under `preferredPath` when that name is free, else where it is.
// The file is no longer deleted; its path tells where it stayed.
void KeepFile(OwnFile& file, const char* preferredPath);

}  // namespace sfx::platform
