// Start-up: the path of the program's own file and the default destination derived from it.
#pragma once

#include <cstddef>

namespace sfx::ui {

// Size of the destination texts: at most 255 characters and the NUL.
inline constexpr std::size_t TextSize = 256;
// Size of the own-path texts (the platform's longest path).
inline constexpr std::size_t OwnPathSize = 260;

// The folder to extract to (ending with a separator after start-up) and the file name.
extern char DestinationFolder[TextSize];
extern char DestinationFileName[TextSize];

// The path every read of the program's own file goes through.
const char* OwnPath();

// Chooses the own path: the first command-line argument when a file opens through it,
// otherwise the module's file name (a program started by a bare name without extension can't
// be opened by that name). The default destination is derived from the same file, through
// the module's file name when the chosen path is not absolute.
void SelectOwnPath(const char* argument0, const char* moduleFileName);

// True for "X:\..." and for network paths ("\\server\share...").
bool IsAbsolutePath(const char* path);

// Writes the long form of `path` followed by one "\" into `out` (TextSize bytes); `path` and
// `out` may be the same text. A final "\" of `path` is removed first, in the caller's text.
// Each component below the drive is replaced by the name its folder stores; a component
// that can't be looked up stays as written. When the long form doesn't fit, `out` receives
// the path as given (with the "\" when there is room).
void ExpandLongPath(char* path, char* out);

// Fills DestinationFolder and DestinationFileName from the own file's long path: its folder
// (ending with "\") and its name without the last extension.
void InitDefaultDestination();

}  // namespace sfx::ui
