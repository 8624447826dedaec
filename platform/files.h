// File operations over what differs between Windows and POSIX: opening, seeking, lengths,
// deleting, moving, and what stands at a path.
#pragma once

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
// What stands at a path, not following a final link.
enum class PathKind { Missing, Regular, Link, Directory, Other };
PathKind KindOf(const char* path);
// True when `path` is a link that leads to a folder, FIFO, device or socket: something a
// file put at its name would not stand for.
bool LeadsElsewhere(const char* path);
// True when an existing file could be opened for writing by this process ("wb" would work).
bool MayWrite(const char* path);

// Makes writes to a closed pipe and past the file-size limit fail with an error (EPIPE,
// EFBIG) instead of ending the process. Nothing to do on Windows.
void IgnoreWriteSignals();
// Makes an already open stream (standard output) pass bytes unchanged: no line-end
// translation on Windows, nothing to do elsewhere.
bool UseBinaryMode(std::FILE* stream);
// A stream of its own for writing to the open descriptor `number` (POSIX; null elsewhere,
// or when that descriptor is not open for writing).
std::FILE* OpenDescriptor(int number);
// Opens for writing the device that swallows whatever is written to it ("/dev/null",
// "NUL"); null when it cannot be opened or something else stands at its name.
std::FILE* OpenNullDevice();

}  // namespace sfx::platform
