// Fixed-size texts: bounded copies, and one line read into a bounded buffer.
#pragma once

#include <cstddef>
#include <cstring>

namespace sfx::platform {

// Copies the text `from` with its NUL into `out` (capacity bytes) when it fits whole; false,
// with `out` untouched, when it does not.
bool CopyWhole(char* out, const char* from, std::size_t capacity);

// Copies the `length` bytes at `from` into `out` (capacity bytes, at least 1), cut to
// capacity - 1, and terminates them. Nothing happens when `out` is nullptr.
void CopyCut(char* out, const char* from, std::size_t length, std::size_t capacity);

// Reads into `line` (capacity bytes) until a line end, the end of the input or a full buffer.
// `readSome(into, most)` gives at most `most` bytes: their count, 0 at the end, -1 on an
// error. Returns the count of bytes before the "\n" (the whole count when there is none, with
// `ended` false), or -1 after an error. Nothing is terminated or taken off.
template <typename ReadSome>
long ReadLine(ReadSome readSome, char* line, std::size_t capacity, bool& ended) {
    std::size_t have = 0;
    ended = false;
    while (have < capacity) {
        const long got = readSome(line + have, capacity - have);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        const void* end = std::memchr(line + have, '\n', static_cast<std::size_t>(got));
        if (end != nullptr) {
            ended = true;
            return static_cast<const char*>(end) - line;
        }
        have += static_cast<std::size_t>(got);
    }
    return static_cast<long>(have);
}

}  // namespace sfx::platform
