// Start-up: the path of the program's own file and the default destination derived from it.
#pragma once

#include <cstddef>

#include "platform/path_text.h"

namespace sfx::ui {

// The most characters a destination text holds (as the platform counts them).
inline constexpr std::size_t TextCharacters = 255;
// Size of the destination texts: at most 255 characters and the NUL (on Windows in UTF-8,
// up to three bytes a character).
inline constexpr std::size_t TextSize = TextCharacters * platform::BytesPerPathCharacter + 1;
// Size of the own-path texts (the platform's longest path).
inline constexpr std::size_t OwnPathSize = 260 * platform::BytesPerPathCharacter;

// The folder to extract to (ending with a separator after start-up) and the file name.
extern char DestinationFolder[TextSize];
extern char DestinationFileName[TextSize];

// The path every read of the program's own file goes through.
const char* OwnPath();

// Chooses the own path: the module's file name, which names the running program whatever
// the command line says (a bare name could open a file of that name in the current folder,
// such as the one extracted last time); the first command-line argument only when the
// module's name is unknown (nullptr or empty) or too long for the text.
void SelectOwnPath(const char* argument0, const char* moduleFileName);

// True for "X:\..." and for network paths ("\\server\share...").
bool IsAbsolutePath(const char* path);

// Writes the long form of `path` followed by one "\" into `out` (TextSize bytes); `path` and
// `out` may be the same text. A final "\" of `path` is removed first, in the caller's text.
// Each component below the drive is replaced by the name its folder stores; a component
// that can't be looked up stays as written. When the long form doesn't fit (TextSize bytes
// and TextCharacters characters), `out` receives the path as given (with the "\" when there
// is room).
void ExpandLongPath(char* path, char* out);

// Fills DestinationFolder and DestinationFileName from the own file's long path: its folder
// (ending with "\") and its name without the last extension. An own path that is no
// absolute path (a bare name) gives the current folder ".\"; one longer than the texts
// gives empty texts, for the user to fill.
void InitDefaultDestination();

}  // namespace sfx::ui
