// What the command line asks of the file system beside the engine: what a path names,
// whether a folder takes new files, creating a folder, and reading a line unbuffered.
// Each check that fails leaves the reason as an errno value in `error`.
#pragma once

#include <cstddef>
#include <cstdio>

namespace sfx::platform {

enum class Target {
    Missing,      // nothing there, or the path can't be looked up (error says why)
    RegularFile,  // a plain file, also when reached through a link
    Folder,
    Other,  // a pipe, a FIFO, a device or a socket
};

// What `path` names, links followed.
Target TargetOf(const char* path, int& error);

// True when the current user may read the file at `path`.
bool CanRead(const char* path, int& error);

// True when new entries can be made in `folder` ("" is the current folder).
bool CanCreateIn(const char* folder, int& error);

// True when `folder` lies on the file system of /dev or /proc, where a file name stands
// for a device or an open file rather than for a file of the user's.
bool IsDeviceFolder(const char* folder);

// True when `count` more files can be open at once beside those open now.
bool CanOpenFiles(int count, int& error);

// The bytes the current user may still write on the file system of `folder`, or -1 when
// that can't be told.
long long FreeBytes(const char* folder);

// Creates `folder` and every missing folder above it. True when it exists afterwards.
bool CreateFolders(const char* folder, int& error);

// Reads the stream's file into `line` (capacity bytes) until a line end, its end or a full
// buffer, bypassing the stream's buffer, so that no copy stays behind in it: the count of
// bytes before the "\n" (`ended` true), else the whole count, or -1 after an error (error
// says which). A read cut short by a signal is tried again.
long ReadLine(std::FILE* stream, char* line, std::size_t capacity, bool& ended, int& error);

}  // namespace sfx::platform
