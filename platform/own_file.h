// Files an extraction creates for itself: new, owner-only, never reached through a link,
// deleted on every path but the one that keeps them, and the one move that puts a verified
// file in its place.
#pragma once

#include <cstddef>
#include <cstdio>

#include "platform/path_text.h"

namespace sfx::platform {

// A file created by this run. While `present`, it is on disk, tracked for deletion on an
// interrupt, and removed by the destructor unless it has been placed or kept.
struct OwnFile {
    char path[PathCapacity] = {};
    std::FILE* stream = nullptr;  // open for writing and reading back, unbuffered
    bool present = false;

    OwnFile() = default;
    OwnFile(const OwnFile&) = delete;
    OwnFile& operator=(const OwnFile&) = delete;
    ~OwnFile() { Remove(); }

    // Creates a new file with a name of its own in the folder of `siblingPath` (mode 0600,
    // CREATE_NEW, deletable while open). The name is short enough that the new path is no
    // longer than the platform allows whenever siblingPath is. False when the folder takes
    // no new file.
    bool CreateBeside(const char* siblingPath);
    // Closes the stream; false when bytes written before could not be stored.
    bool Close();
    // Closes and deletes the file (retried while another program holds it for a moment).
    void Remove();
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

enum class Placement { Placed, Taken, Failed };

// Puts the verified `file` at `destination` as a plain "wb" open would have left it:
//   - nothing there: a new file with the usual permissions (0666 minus the umask);
//   - a regular file: replaced when `replace` allows it and the file is writable, keeping
//     its permission bits and, where the process may set them, its owner and group; when
//     its folder takes no new file, the bytes are copied into it instead;
//   - a link: the link is replaced, its target never touched;
//   - a folder, FIFO, device or socket: Failed, left alone.
// Without `replace` nothing is ever replaced, not even what appeared meanwhile (Taken).
// The file is closed and stops being ours once Placed; on failure it stays ours.
Placement PlaceFile(OwnFile& file, const char* destination, bool replace);

// Keeps `file` for the user under `preferredPath` when that name is free, else where it is.
// The file is no longer deleted; its path tells where it stayed.
void KeepFile(OwnFile& file, const char* preferredPath);

}  // namespace sfx::platform
