// Paths as the programs hold them: byte texts in one encoding per process, the scans that find
// separators and extensions in them, and on Windows the conversions to and from the UTF-16
// the system's wide calls take.
//
// On Windows a path is UTF-8 in the extractor (any name the file system can store) and ANSI
// in the other programs, whose command line arrives in the ANSI code page. A double-byte ANSI
// code page (932, 936, 949, 950) has trail bytes that look like "\" (0x5C) or "." (0x2E), so
// every scan walks forward, character by character; UTF-8 has no such trail bytes.
#pragma once

#include <cstddef>

namespace sfx::platform {

#ifdef _WIN32
// Bytes one character of a path (one UTF-16 unit) may take in the text: 3 in UTF-8.
inline constexpr std::size_t BytesPerPathCharacter = 3;
// MAX_PATH characters, each up to 3 bytes in the UTF-8 the extractor holds its paths in
inline constexpr std::size_t PathCapacity = 3 * 260;
#else
inline constexpr std::size_t BytesPerPathCharacter = 1;
inline constexpr std::size_t PathCapacity = 4096;  // PATH_MAX
#endif

// True for the first byte of a double-byte character in the encoding of paths: on Windows a
// lead byte of the ANSI code page while paths are ANSI; never for UTF-8, never on POSIX.
bool IsLeadByte(unsigned char byte);
// Replaces that test (the tests stand in a double-byte code page); nullptr restores it.
void SetLeadByteTest(bool (*isLeadByte)(unsigned char));

// The index of the character after the one at text[i]: a lead byte takes its trail byte.
std::size_t NextCharacter(const char* text, std::size_t i);

// The scans below read Windows paths on every system (the dialog's logic is tested natively):
// "\" and "/" are separators, "X:" a drive.
bool IsPathSeparator(char c);
// Length of the folder part of a path: up to and including its last separator or the colon
// of a drive ("X:"); 0 for a bare name.
std::size_t FolderLength(const char* path);
// Where the extension of the path's last component starts (its last "."), or the length of
// the path when that component has no ".".
std::size_t ExtensionStart(const char* path);
// True when the last character of `text` is a separator.
bool EndsWithSeparator(const char* text);
// The same for the paths of the system the program runs on: on POSIX only "/" separates,
// and no drive colon counts.
bool IsNativeSeparator(char c);
std::size_t NativeFolderLength(const char* path);

// The number of characters in `path` as Windows counts them (UTF-16 units), bytes elsewhere;
// counting stops past `limit`.
std::size_t PathLength(const char* path, std::size_t limit);

#ifdef _WIN32
// From now on paths in this process are UTF-8 (the default is the ANSI code page).
void UseUtf8Paths();

// A path in the UTF-16 the wide calls take. `ok` is false, and the text empty, when the path
// is no valid text in the encoding of paths or longer than the calls take (MAX_PATH units
// with the NUL): such a path names no file, rather than some other file.
struct WidePath {
    wchar_t text[260];
    bool ok;
    explicit WidePath(const char* path);
};

// Converts a UTF-16 text into the encoding of paths, into `out` (capacity bytes). False, with
// `out` empty, when it does not fit or has a character that the encoding lacks.
bool NarrowPath(const wchar_t* wide, char* out, std::size_t capacity);
// Converts a text in the encoding of paths into UTF-16, into `out` (capacity units). False,
// with `out` empty, when it does not fit or is no valid text.
bool WidenPath(const char* path, wchar_t* out, std::size_t capacity);
// An ANSI text (a command-line argument) into the encoding of paths.
bool PathFromAnsi(const char* ansi, char* out, std::size_t capacity);
#endif

}  // namespace sfx::platform
