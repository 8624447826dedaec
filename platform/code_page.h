// Texts in a Windows code page. The riddle and the description are stored as bytes of the
// ANSI code page of the machines a file is meant for, and the extractor's dialog shows them
// in the system's own; so is the password the key is made from. These convert such bytes to
// Unicode and back through the system's converters (iconv on POSIX, MultiByteToWideChar and
// WideCharToMultiByte without best fit on Windows), and take text to and from the terminal.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace sfx::platform {

// The code pages a text may be stored in: 874, 1250 to 1258, and the double-byte 932
// (Japanese), 936 (Simplified Chinese), 949 (Korean) and 950 (Traditional Chinese).
extern const unsigned CodePageNumbers[];
extern const std::size_t CodePageCount;

// The code page of Western European and American systems, and the one of any locale that
// names no other.
inline constexpr unsigned WesternCodePage = 1252;

// The code page named NUMBER, cpNUMBER or windows-NUMBER (any case); 0 when none is.
unsigned FindCodePage(std::string_view name);

// One character of a text in a code page: the `length` bytes at `offset`. `valid` is false
// for a byte that begins no character of the code page (a lone or cut-off lead byte, a byte
// the page leaves unassigned), which is then alone; it is never merged with its neighbours.
// Unassigned bytes that a converter maps to a C1 control or to the Private Use Area count
// as invalid, so that both systems agree.
struct CodePageCharacter {
    char32_t character;
    std::size_t offset;
    std::size_t length;
    bool valid;
};

// Splits `bytes` into the characters of code page `page` (one of CodePageNumbers): every byte
// lands in exactly one entry. False only when the system has no converter for the page.
bool DecodeCodePage(std::string_view bytes, unsigned page, std::vector<CodePageCharacter>& out);

// Encodes characters into code page `page`, exactly, never by a look-alike. False, with `bad`
// the first character the page cannot hold, when there is one (a C1 control or a Private
// Use Area character is never held).
bool EncodeToCodePage(std::u32string_view text, unsigned page, std::string& out, char32_t& bad);

// Decodes text in the encoding of the command line and the terminal: the locale's once
// setlocale(LC_CTYPE, "") has run on POSIX, the ANSI code page on Windows. False when the
// bytes are not valid in it.
bool DecodeLocaleText(std::string_view text, std::u32string& out);

// Appends the character in the terminal's character set (nl_langinfo(CODESET) once
// setlocale(LC_CTYPE, "") has run; the console's output code page on Windows). False, with
// nothing appended, when that set has no such character.
bool AppendForTerminal(char32_t character, std::string& out);

// True where the system hands the command line and the console's input and output over as
// UTF-16 (Windows): texts then go from them straight into a code page and to the console as
// Unicode, never through the ANSI code page. False on POSIX, where they are the locale's bytes.
#ifdef _WIN32
inline constexpr bool SystemTextIsWide = true;
#else
inline constexpr bool SystemTextIsWide = false;
#endif

// The characters of the program's argument argv[index] (index 1 or more), from byte `offset`
// on (past an ASCII "--name=" the value is attached to). On Windows they come from the wide
// command line (GetCommandLineW, split by CommandLineToArgvW), where none is lost to the ANSI
// code page the C library's argv holds, provided that argument is the one argv[index] was made
// from; else, and on POSIX, argv[index] is decoded as DecodeLocaleText does. False when it is
// not valid text.
bool ArgumentCharacters(char** argv, int index, std::size_t offset, std::u32string& out);

// Appends the character as UTF-8.
void AppendUtf8(char32_t character, std::string& out);

// The ANSI code page Windows gives a system locale: the language and territory of a POSIX
// locale name ("ru_RU.UTF-8", "zh_TW", "sr_RS@latin"); WesternCodePage for any other.
unsigned CodePageOfLocale(std::string_view locale);

// The code page texts are taken to be in when none is named: the system's ANSI code page on
// Windows; on POSIX the one of the locale that LC_ALL, LC_CTYPE or LANG (the first that is
// set and not empty) names.
unsigned SystemCodePage();

}  // namespace sfx::platform
