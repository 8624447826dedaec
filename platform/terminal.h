// The terminal: whether a stream is one, its width, and reading a secret with echo off.
#pragma once

#include <cstddef>
#include <cstdio>

namespace sfx::platform {

// True when the stream is connected to a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// The width in columns of the terminal behind the stream, or 0 when it is not known.
int TerminalColumns(std::FILE* stream);

// True when texts written to the stream should be Unicode: a Windows console, which
// WriteTerminalText writes through WriteConsoleW whatever its own code page. Always false on
// POSIX and for a stream that is redirected.
bool TerminalTakesUnicode(std::FILE* stream);

// Writes `utf8` to the stream, which TerminalTakesUnicode says takes Unicode: to the console
// as UTF-16, after what the stream holds buffered. False when the write fails.
bool WriteTerminalText(std::FILE* stream, const char* utf8);

enum class SecretRead {
    Read,        // a line was read
    TooLong,     // the line does not fit; nothing is kept
    NulByte,     // the line holds a NUL byte, which would cut it short; nothing is kept
    NotAnsi,     // Windows: a character the ANSI code page lacks, which no password has
    NoTerminal,  // standard input is not a terminal; nothing was asked
    Failed,      // the terminal could not be set up or read
};

// Asks on the terminal behind standard input: writes `prompt` to the terminal (standard error
// when that is the terminal), turns echo off, reads one line into lineOut (capacity bytes,
// terminated, without its line end) and turns echo back on. Echo is also restored when the
// process is interrupted or terminated while it waits (Ctrl-C, hang-up). Whatever of the
// line passed through lineOut is wiped on every result but Read. On Windows the prompt is
// UTF-8, shown on the console as Unicode, and the line is read from the console as UTF-16
// and taken into code page `page`, the one the key is made in (NotAnsi when it lacks a
// character); on POSIX the line is the terminal's bytes and `page` is not used.
SecretRead ReadSecretLine(const char* prompt, unsigned page, char* lineOut, std::size_t capacity);

}  // namespace sfx::platform
