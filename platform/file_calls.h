// The system calls behind the files an extraction creates for itself (own_file.cpp,
// place_file.cpp): deleting and moving them, on Windows retried while another program holds
// the file for a moment. CreateNewFile (own_file.h) is the exclusive create.
#pragma once

#ifndef _WIN32
#include <sys/types.h>
#endif

namespace sfx::platform {

// True when the last create or move failed because something stands at the path.
bool Clashed();
bool Delete(const char* path);
// Moves `from` to `to`, replacing what stands there only when `replace` allows it.
bool Move(const char* from, const char* to, bool replace);
#ifndef _WIN32
// The process's file-creation mask, left as it is.
mode_t CurrentUmask();
#endif

}  // namespace sfx::platform
