// The terminal: whether a stream is one, its width, and reading a secret with echo off.
#pragma once

#include <cstddef>
#include <cstdio>

namespace sfx::platform {

// True when the stream is connected to a terminal (a console on Windows).
bool IsTerminal(std::FILE* stream);

// The width in columns of the terminal behind the stream, or 0 when it is not known.
int TerminalColumns(std::FILE* stream);

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
// line passed through lineOut is wiped on every result but Read. On Windows the line is
// read from the console as UTF-16 and taken into the ANSI code page, which passwords given
// otherwise (-p, the environment, the extractor's dialog) are in.
SecretRead ReadSecretLine(const char* prompt, char* lineOut, std::size_t capacity);

}  // namespace sfx::platform
