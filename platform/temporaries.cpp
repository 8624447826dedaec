#include "platform/temporaries.h"

#include <csignal>
#include <cstdlib>
#include <cstring>

#include "platform/interrupts.h"
#include "platform/path_text.h"
#include "platform/text.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <unistd.h>
#endif

namespace sfx::platform {

namespace {

constexpr int TrackedSlots = 4;
#ifdef _WIN32
constexpr std::size_t TrackedPathSize = 260 * BytesPerPathCharacter;  // MAX_PATH characters
#else
constexpr std::size_t TrackedPathSize = PathCapacity;  // PATH_MAX
#endif
#ifdef _WIN32
constexpr int NoFolder = -1;
#else
constexpr int NoFolder = AT_FDCWD;
#endif
char trackedPaths[TrackedSlots][TrackedPathSize];
int trackedFolders[TrackedSlots];  // what a path is relative to
volatile std::sig_atomic_t trackedInUse[TrackedSlots];

void DeleteQuietly(int folder, const char* path) {
#ifdef _WIN32
    (void)folder;
    const WidePath wide(path);
    if (wide.ok)
        DeleteFileW(wide.text);
#else
    unlinkat(folder, path, 0);  // async-signal-safe, unlike remove()
#endif
}

void Track(int folder, const char* path) {
    for (int i = 0; i < TrackedSlots; ++i) {
        if (trackedInUse[i] == 0) {
            trackedFolders[i] = folder;
            if (CopyWhole(trackedPaths[i], path, TrackedPathSize))
                trackedInUse[i] = 1;
            return;
        }
    }
}

void Untrack(int folder, const char* path) {
    for (int i = 0; i < TrackedSlots; ++i) {
        if (trackedInUse[i] != 0 && trackedFolders[i] == folder &&
            std::strcmp(trackedPaths[i], path) == 0)
            trackedInUse[i] = 0;
    }
}

}  // namespace

void TrackTemporary(const char* path) {
    Track(NoFolder, path);
}

void UntrackTemporary(const char* path) {
    Untrack(NoFolder, path);
}

#ifndef _WIN32
void TrackTemporaryAt(int folder, const char* name) {
    Track(folder, name);
}

void UntrackTemporaryAt(int folder, const char* name) {
    Untrack(folder, name);
}
#endif

void RemoveTrackedTemporaries() {
    for (int i = 0; i < TrackedSlots; ++i) {
        if (trackedInUse[i] != 0) {
            DeleteQuietly(trackedFolders[i], trackedPaths[i]);
            trackedInUse[i] = 0;
        }
    }
}

#ifdef _WIN32
namespace {
BOOL WINAPI RemoveOnConsoleEvent(DWORD) {
    RemoveTrackedTemporaries();
    return FALSE;  // the default handler ends the process
}
}  // namespace

void RemoveTemporariesOnInterrupt(bool on) {
    SetConsoleCtrlHandler(RemoveOnConsoleEvent, on ? TRUE : FALSE);
}
#else
namespace {
struct sigaction savedActions[InterruptCount];
bool installed[InterruptCount];

void RemoveAndRaise(int signal) {
    RemoveTrackedTemporaries();
    for (int i = 0; i < InterruptCount; ++i) {
        if (InterruptSignals[i] == signal)
            sigaction(signal, &savedActions[i], nullptr);
    }
    raise(signal);
}
}  // namespace

void RemoveTemporariesOnInterrupt(bool on) {
    for (int i = 0; i < InterruptCount; ++i) {
        if (on && !installed[i]) {
            installed[i] = CatchInterrupt(InterruptSignals[i], RemoveAndRaise, savedActions[i]);
        } else if (!on && installed[i]) {
            sigaction(InterruptSignals[i], &savedActions[i], nullptr);
            installed[i] = false;
        }
    }
}
#endif

bool TempFolder(char* folderOut, std::size_t capacity) {
#ifdef _WIN32
    // GetTempPathW's answer ends with a backslash; 0 or a size over the capacity is a failure.
    wchar_t folder[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, folder);
    return length > 0 && length <= MAX_PATH && NarrowPath(folder, folderOut, capacity);
#else
    const char* folder = std::getenv("TMPDIR");
    if (folder == nullptr || folder[0] == '\0')
        folder = "/tmp";
    std::size_t length = strnlen(folder, capacity);
    const bool needsSeparator = folder[length - 1] != '/';
    if (length + (needsSeparator ? 1 : 0) + 1 > capacity)
        return false;
    std::memcpy(folderOut, folder, length);
    if (needsSeparator)
        folderOut[length++] = '/';
    folderOut[length] = '\0';
    return true;
#endif
}

}  // namespace sfx::platform
