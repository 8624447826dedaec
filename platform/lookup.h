// Directory-entry lookup and path splitting as the start-up code uses them. On Windows these
// are the C runtime's own; elsewhere a small stand-in with the same contract serves the
// tests of the start-up logic.
#pragma once

#include <cstddef>
#include <cstdint>

#ifdef _WIN32
#include <io.h>
#include <stdlib.h>
#endif

namespace sfx::platform {

#ifdef _WIN32

using FindData = ::_finddata_t;
using ::_findclose;
using ::_findfirst;
using ::_splitpath;

#else

struct FindData {
    unsigned attrib = 0;
    char name[260] = {};
};

// Looks up the one directory entry that `path` names (no wildcards) and fills entry->name
// with the name the file system stores for it. Returns a handle for _findclose, or -1 when
// there is no such entry.
std::intptr_t _findfirst(const char* path, FindData* entry);
int _findclose(std::intptr_t handle);

// Splits a path into drive ("X:" or ""), directory (up to and including the last "\" or
// "/"), file name (up to the last "." after that) and extension (that "." and the rest).
// Each output is optional and receives at most 255 characters plus NUL.
void _splitpath(const char* path, char* drive, char* dir, char* fname, char* ext);

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
