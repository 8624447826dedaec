// Temporary files that must not outlive an interrupted run, and the folder for them.
#pragma once

#include <cstddef>

namespace sfx::platform {

// OwnFile and CreateUniqueSibling track the files they create; RemoveFile and ReplaceFile
// stop tracking the path they move or delete. A path too long to track is not tracked.
void TrackTemporary(const char* path);
void UntrackTemporary(const char* path);
#ifndef _WIN32
// The same for a file named in a held folder, deleted relative to that folder, wherever the
// folder has been moved meanwhile.
void TrackTemporaryAt(int folder, const char* name);
void UntrackTemporaryAt(int folder, const char* name);
#endif
// Deletes every tracked file; safe inside a signal handler.
void RemoveTrackedTemporaries();
// While on, an interrupt (Ctrl-C, a termination request, a closed terminal) deletes the
// tracked files before the process ends as it would have without this.
void RemoveTemporariesOnInterrupt(bool on);

// The folder for temporary files, ending with a separator, into folderOut (capacity bytes).
// False when there is none or it does not fit.
bool TempFolder(char* folderOut, std::size_t capacity);

}  // namespace sfx::platform
