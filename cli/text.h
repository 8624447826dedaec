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

}  // namespace sfx::cli
