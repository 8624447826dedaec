// Directory-entry lookup and path splitting as the start-up code uses them. On Windows the
// lookup asks the file system through the wide calls; elsewhere a small stand-in with the
// same contract serves the tests of the start-up logic.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/path_text.h"

namespace sfx::platform {

struct FindData {
    unsigned attrib = 0;
    char name[260 * BytesPerPathCharacter] = {};
};

// Looks up the one directory entry that `path` names (no wildcards) and fills entry->name
// with the name the file system stores for it. Returns a handle for _findclose, or -1 when
// there is no such entry (or its name does not fit).
std::intptr_t _findfirst(const char* path, FindData* entry);
int _findclose(std::intptr_t handle);

// Splits a path into drive ("X:" or ""), directory (up to and including the last "\" or
// "/"), file name (up to the last "." after that) and extension (that "." and the rest),
// never taking the trail byte of a double-byte character for a separator or a dot. Each
// output is optional and receives at most 255 characters plus NUL (TextSize bytes).
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);

#ifndef _WIN32
// What the stand-in's file system stores: a path as looked up (letter case ignored) and the
// name stored for its last component.
struct StoredName {
    const char* path;
    const char* name;
};
// Makes _findfirst answer from `table` only (nothing else exists). With no table (nullptr)
// every lookup finds the path's last component under the name it was asked by, as on a file
// system without short aliases or stored letter case.
void SetStoredNames(const StoredName* table, std::size_t count);
#endif

}  // namespace sfx::platform
