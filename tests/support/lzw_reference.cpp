#include "tests/support/lzw_reference.h"

#include <algorithm>

namespace sfx::test {

CodeStream& CodeStream::Raw(std::uint32_t code, int width) {
    for (int bit = width - 1; bit >= 0; --bit) {
        current_ = static_cast<std::uint8_t>(current_ << 1 | ((code >> bit) & 1));
        if (++bits_ == 8) {
            bytes_.push_back(current_);
            bits_ = 0;
            current_ = 0;
        }
    }
    return *this;
}

Bytes CodeStream::Finish(int extra) {
    if (bits_ > 0)
        Raw(0, 8 - bits_);
    for (int i = 0; i < extra; ++i) bytes_.push_back(0);
    return bytes_;
}

namespace {

// Notes where the end code stops and whether only zero bits follow it.
void NoteTail(const Bytes& stream, std::size_t next, int bits, ReferenceResult& result) {
    result.bitsAfterEnd = (stream.size() - next) * 8u + static_cast<unsigned>(bits);
    const std::uint64_t from = stream.size() * 8u - result.bitsAfterEnd;
    for (std::uint64_t bit = from; bit < stream.size() * 8u; ++bit) {
        if ((stream[bit / 8] >> (7 - bit % 8)) & 1u)
            result.zeroAfterEnd = false;
    }
}

}  // namespace

ReferenceResult ReferenceDecode(const Bytes& stream) {
    ReferenceResult result;
    const auto inputLength = static_cast<std::int32_t>(stream.size());
    std::vector<std::uint32_t> prefix(16384);
    std::vector<std::uint8_t> suffix(16384);
    std::uint8_t stack[4000];
    std::size_t next = 0;
    std::int32_t fetched = 0;
    std::uint32_t buffer = 0;
    int bits = 0;
    long position = 0;
    std::uint32_t nextFree = 258;
    std::uint32_t previous = 0;
    std::uint8_t first = 0;
    bool awaitingFirst = true;
    for (;;) {
        while (bits <= 24) {
            ++fetched;
            if (fetched % 1024 == 0)
                result.progress.emplace_back(fetched, inputLength);
            if (next == stream.size()) {
                result.failure = "stream ends before the end code";
                return result;
            }
            buffer |= std::uint32_t{stream[next++]} << (24 - bits);
            bits += 8;
        }
        const int width = WidthAtPosition(++position);
        const std::uint32_t code = buffer >> (32 - width);
        buffer <<= width;
        bits -= width;
        result.codes.push_back(code);

        if (code == 257) {
            result.progress.emplace_back(0, 0);
            result.endWidth = width;
            NoteTail(stream, next, bits, result);
            result.ok = true;
            return result;
        }
        if (awaitingFirst) {
            if (code > 255) {
                result.failure = "first code " + std::to_string(code) + " is not a literal";
                return result;
            }
            first = static_cast<std::uint8_t>(code);
            result.output.push_back(first);
            result.longest = std::max<std::size_t>(result.longest, 1);
            previous = code;
            awaitingFirst = false;
            continue;
        }
        if (code == 256) {
            result.clearPositions.push_back(static_cast<std::uint64_t>(position));
            awaitingFirst = true;
            position = 0;
            nextFree = 258;
            continue;
        }
        if (code > nextFree) {
            result.failure = "code " + std::to_string(code) + " names no entry";
            return result;
        }
        int place = 0;
        std::uint32_t c = code;
        if (code == nextFree) {
            stack[place++] = first;
            c = previous;
        }
        while (c > 255 && place < 4000) {
            stack[place++] = suffix[c];
            c = prefix[c];
        }
        if (place >= 4000) {
            result.failure = "string over 4000 bytes";
            return result;
        }
        stack[place] = static_cast<std::uint8_t>(c);
        first = stack[place];
        result.longest = std::max<std::size_t>(result.longest, place + 1);
        for (int i = place; i >= 0; --i) result.output.push_back(stack[i]);
        if (nextFree <= 16383) {
            prefix[nextFree] = previous;
            suffix[nextFree] = first;
            ++nextFree;
        }
        previous = code;
    }
}

}  // namespace sfx::test
