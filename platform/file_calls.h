// The system calls behind the files an extraction creates for itself (own_file.cpp,
// place_file.cpp): deleting and moving them, on Windows retried while another program holds
// the file for a moment. CreateNewFile (own_file.h) is the exclusive create.
#pragma once

#include <cstddef>

#ifndef _WIN32
#include <sys/types.h>
#endif

namespace sfx::platform {

// True when the last create or move failed because something stands at the path.
bool Clashed();
bool Delete(const char* path);
// Moves `from` to `to`, replacing what stands there only when `replace` allows it.
bool Move(const char* from, const char* to, bool replace);
// Writes a fresh name of `length` (5 to 14) characters at `name` from the system's random
// source: "~sfx", six random characters and ".tmp" when there is room, "~" and random
// characters otherwise.
void RandomName(char* name, std::size_t length);
// Fills `count` bytes from the system's random source; false when it has none to give.
bool RandomBytes(void* bytes, std::size_t count);
#ifndef _WIN32
// The process's file-creation mask, left as it is.
mode_t CurrentUmask();
// Opens the folder of `path`, its first `folderLength` bytes ("" for the current folder),
// for creating, moving and removing relative to it; -1 when it can't be opened.
int HoldFolder(const char* path, std::size_t folderLength);
// Moves `from` to `to`, both named in `folder`, never replacing what stands at `to`.
bool MoveNoReplaceAt(int folder, const char* from, const char* to);
#endif

}  // namespace sfx::platform
