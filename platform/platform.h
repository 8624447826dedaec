// The one thin layer over what differs between Windows and POSIX.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

namespace sfx::platform {

// fopen with the platform's large-file support; a folder does not open.
std::FILE* OpenFile(const char* path, const char* mode);
// Seeks to `distance` bytes before the end of the file (64-bit).
bool SeekFromEnd(std::FILE* file, std::int64_t distance);
// The length of the file behind an open stream, or -1.
std::int64_t FileLength(std::FILE* file);
// Deletes a file, never a folder; the result tells whether it went.
bool RemoveFile(const char* path);
// Moves `from` onto `to`, replacing a file that stands there.
bool ReplaceFile(const char* from, const char* to);
// True when something (file or directory) exists at path.
bool PathExists(const char* path);
// True when path names a directory.
bool IsDirectory(const char* path);
// True when both paths name one existing file (also through a link or another spelling).
bool SameFile(const char* first, const char* second);

// Creates a new empty file, beside `siblingPath` (in the same folder), whose name clashes
// with nothing that exists; writes its path into pathOut (capacity bytes). False when no
// such file can be created.
bool CreateUniqueSibling(const char* siblingPath, char* pathOut, std::size_t capacity);

// Temporary files that must not outlive an interrupted run. CreateUniqueSibling tracks the
// files it creates; RemoveFile and ReplaceFile stop tracking the path they move or delete.
void TrackTemporary(const char* path);
void UntrackTemporary(const char* path);
// Deletes every tracked file; safe inside a signal handler.
void RemoveTrackedTemporaries();
// While on, an interrupt (Ctrl-C, a termination request, a closed terminal) deletes the
// tracked files before the process ends as it would have without this.
void RemoveTemporariesOnInterrupt(bool on);

// Makes writes to a closed pipe and past the file-size limit fail with an error (EPIPE,
// EFBIG) instead of ending the process. Nothing to do on Windows.
void IgnoreWriteSignals();

// Makes an already open stream (standard output) pass bytes unchanged: no line-end
// translation on Windows, nothing to do elsewhere.
bool UseBinaryMode(std::FILE* stream);

// The device that swallows whatever is written to it ("/dev/null", "NUL").
const char* NullDevicePath();
// The folder for temporary files, ending with a separator, into folderOut (capacity bytes).
// False when there is none or it does not fit.
bool TempFolder(char* folderOut, std::size_t capacity);

// Heap allocation with a test hook that makes allocations fail.
void* Allocate(std::size_t size);
void Release(void* block);
// After `count` more successful allocations, every further one fails; -1 turns this off.
void FailAllocationsAfter(int count);

}  // namespace sfx::platform
