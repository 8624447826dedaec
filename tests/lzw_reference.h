// A plain decoder for the tests: reads the code stream from memory one byte at a time into
// a 32-bit buffer and expands every string onto a 4000-byte stack, exactly as the stream
// format describes it. The real decoder must agree with it on every input, damaged ones
// included: same bytes out, same result, same progress calls.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace sfx::test {

struct ReferenceResult {
    bool ok = false;
    std::vector<std::uint8_t> output;
    std::vector<std::pair<std::int32_t, std::int32_t>> progress;
};

inline ReferenceResult ReferenceDecode(const std::vector<std::uint8_t>& stream,
                                       std::int32_t inputLength) {
    ReferenceResult result;
    std::vector<std::uint32_t> prefix(18041);
    std::vector<std::uint8_t> suffix(18041);
    std::uint8_t stack[4000];
    std::size_t next = 0;
    std::int32_t fetched = 0;
    std::uint32_t buffer = 0;
    int bits = 0;
    int width = 9;
    std::uint32_t maxCode = 511;
    std::uint32_t nextFree = 258;
    std::uint32_t previous = 0;
    std::uint8_t first = 0;
    bool awaitingFirst = true;
    for (;;) {
        while (bits <= 24) {
            ++fetched;
            if (fetched % 1024 == 0)
                result.progress.emplace_back(fetched, inputLength);
            if (next == stream.size())
                return result;
            buffer |= std::uint32_t{stream[next++]} << (24 - bits);
            bits += 8;
        }
        const std::uint32_t code = buffer >> (32 - width);
        buffer <<= width;
        bits -= width;

        if (code == 257) {
            result.progress.emplace_back(0, 0);
            result.ok = true;
            return result;
        }
        if (awaitingFirst) {
            if (code > 255)
                return result;
            first = static_cast<std::uint8_t>(code);
            result.output.push_back(first);
            previous = code;
            awaitingFirst = false;
            continue;
        }
        if (code == 256) {
            awaitingFirst = true;
            width = 9;
            maxCode = 511;
            nextFree = 258;
            continue;
        }
        if (code > nextFree)
            return result;
        int place = 0;
        std::uint32_t c = code;
        if (code == nextFree) {
            stack[place++] = first;
            c = previous;
        }
        while (c > 255) {
            if (place >= 4000)
                return result;
            stack[place++] = suffix[c];
            c = prefix[c];
        }
        if (place >= 4000)
            return result;
        stack[place] = static_cast<std::uint8_t>(c);
        first = stack[place];
        for (int i = place; i >= 0; --i) result.output.push_back(stack[i]);
        if (nextFree <= maxCode) {
            prefix[nextFree] = previous;
            suffix[nextFree] = first;
            ++nextFree;
            if (nextFree == maxCode && width < 14) {
                ++width;
                maxCode = (1u << width) - 1;
            }
        }
        previous = code;
    }
}

}  // namespace sfx::test
