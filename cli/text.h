// Texts from a container are untrusted: these make them safe to print.
#pragma once

#include <cstddef>
#include <string>

namespace sfx::cli {

// The bytes as printable ASCII for a terminal: a control byte, DEL or any byte above 127
// becomes \xNN and a backslash becomes \\, so no text can move the cursor or start an
// escape sequence, and the original bytes can be read back.
std::string Printable(const char* text, std::size_t length);
std::string Printable(const std::string& text);

// The bytes as a quoted JSON string of ASCII only. Single-byte text is taken as Latin-1:
// a byte above 127 becomes \u00NN, as does every control byte and DEL.
std::string JsonString(const char* text, std::size_t length);
std::string JsonString(const std::string& text);

// A text stored in code page `page` (a riddle, a description) as the terminal shows it: each
// character in the terminal's character set; an invalid byte, a control character (C0, DEL,
// C1, the bidirectional and other invisible format characters) or a character the terminal
// cannot show becomes the \xNN of each of its bytes, and a backslash \\, as Printable does.
// With `unicode` (for a terminal that takes Unicode, platform::TerminalTakesUnicode) the
// characters are UTF-8 instead, every one shown.
std::string PrintableText(const char* text, std::size_t length, unsigned page,
                          bool unicode = false);

// The same text as a quoted JSON string of ASCII only: a character beyond ASCII as \uXXXX
// (a pair of them above U+FFFF), a control character as Printable's JSON form, a byte that
// is not valid in the code page as \ufffd (the bytes themselves are in HexBytes).
std::string JsonText(const char* text, std::size_t length, unsigned page);

// The bytes as a quoted string of lower-case hex digits, two a byte.
std::string HexBytes(const char* text, std::size_t length);

}  // namespace sfx::cli
