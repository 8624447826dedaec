// The encoder's streams, read back by a small decoder of the test's own that follows the
// extractor's rules: widths grow when the next free code reaches 2^width - 1, the first
// code after start or clear is a literal, at most 16383 entries, no string over 4000 bytes,
// and at least 25 bits from the end code's first bit.
#include "tools/lzw_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace sfx {
namespace {

using Bytes = std::vector<std::uint8_t>;

struct Decoded {
    std::string failure;  // empty when the stream is well formed
    Bytes bytes;
    std::vector<std::uint32_t> codes;           // every code read, clear and end included
    std::vector<std::uint64_t> clearPositions;  // position of each clear since start or clear
    std::size_t longest = 0;                    // longest string of one code
    int endWidth = 0;
    std::uint64_t bitsAfterEnd = 0;
};

Decoded Decode(const Bytes& stream) {
    Decoded out;
    std::uint64_t bit = 0;
    const std::uint64_t totalBits = stream.size() * 8u;
    const auto read = [&](int width, std::uint32_t& code) {
        if (bit + width > totalBits) {
            return false;
        }
        code = 0;
        for (int i = 0; i < width; ++i, ++bit) {
            code = code << 1 | ((stream[bit / 8] >> (7 - bit % 8)) & 1u);
        }
        return true;
    };

    std::vector<std::uint32_t> prefix(16384);
    std::vector<std::uint8_t> suffix(16384);
    std::uint32_t nextFree = 258;
    int width = 9;
    std::uint64_t position = 0;
    bool first = true;
    std::uint32_t previous = 0;
    const auto expand = [&](std::uint32_t code) {
        Bytes text;
        for (; code > 255; code = prefix[code]) {
            text.push_back(suffix[code]);
        }
        text.push_back(static_cast<std::uint8_t>(code));
        return Bytes(text.rbegin(), text.rend());
    };

    for (;;) {
        std::uint32_t code = 0;
        const std::uint64_t start = bit;
        if (!read(width, code)) {
            out.failure = "stream ends before the end code";
            return out;
        }
        ++position;
        out.codes.push_back(code);
        if (code == 257) {
            out.endWidth = width;
            out.bitsAfterEnd = totalBits - bit;
            if (totalBits - start < 25) {
                out.failure = "fewer than 25 bits from the end code on";
            }
            for (; bit < totalBits; ++bit) {
                if ((stream[bit / 8] >> (7 - bit % 8)) & 1u) {
                    out.failure = "non-zero bits after the end code";
                }
            }
            return out;
        }
        if (code == 256) {
            if (first) {
                out.failure = "clear as first code";
                return out;
            }
            out.clearPositions.push_back(position);
            nextFree = 258;
            width = 9;
            position = 0;
            first = true;
            continue;
        }
        if (first) {
            if (code > 255) {
                out.failure = "first code is not a literal";
                return out;
            }
            out.bytes.push_back(static_cast<std::uint8_t>(code));
            out.longest = std::max<std::size_t>(out.longest, 1);
            previous = code;
            first = false;
            continue;
        }
        Bytes text;
        if (code < nextFree) {
            text = expand(code);
        } else if (code == nextFree) {
            text = expand(previous);
            text.push_back(text.front());
        } else {
            out.failure = "code " + std::to_string(code) + " names no entry";
            return out;
        }
        if (text.size() > 4000) {
            out.failure = "string of " + std::to_string(text.size()) + " bytes";
            return out;
        }
        out.longest = std::max(out.longest, text.size());
        out.bytes.insert(out.bytes.end(), text.begin(), text.end());
        if (nextFree <= 16383) {
            prefix[nextFree] = previous;
            suffix[nextFree] = text.front();
            ++nextFree;
            if (nextFree == (1u << width) - 1 && width < 14) {
                ++width;
            }
        }
        previous = code;
    }
}

// Bytes in which no pair of neighbours occurs twice (a de Bruijn sequence over all byte
// values), so that every code the encoder writes is a literal.
Bytes DistinctPairs(std::size_t size) {
    Bytes out;
    std::vector<int> a(3, 0);
    const auto generate = [&](auto&& self, int t, int p) -> void {
        if (t > 2) {
            if (2 % p == 0) {
                for (int j = 1; j <= p; ++j) {
                    out.push_back(static_cast<std::uint8_t>(a[j]));
                }
            }
            return;
        }
        a[t] = a[t - p];
        self(self, t + 1, p);
        for (int j = a[t - p] + 1; j < 256; ++j) {
            a[t] = j;
            self(self, t + 1, t);
        }
    };
    generate(generate, 1, 1);
    out.resize(size);
    return out;
}

// Compressible pseudo-random text over a small alphabet.
Bytes Text(std::size_t size, std::uint32_t seed) {
    Bytes out(size);
    for (auto& byte : out) {
        seed = seed * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>('a' + (seed >> 16) % 5);
    }
    return out;
}

std::vector<std::uint32_t> Literals(const Bytes& bytes, std::size_t from, std::size_t to) {
    return std::vector<std::uint32_t>(bytes.begin() + from, bytes.begin() + to);
}

TEST(LzwEncoderTest, CodeWidthsFollowThePositionSinceStartOrClear) {
    // 20000 literals: positions 1..16127, a clear at 16128 (the decoder has just defined
    // entry 16383), then positions 1..3873 and the end code at 3874, 13 bits wide. Every
    // width boundary (254/255, 766/767, 1790/1791, 3838/3839, 7934/7935) is crossed.
    const Bytes input = DistinctPairs(20000);
    Decoded decoded = Decode(LzwEncode(input.data(), input.size()));
    ASSERT_EQ(decoded.failure, "");
    std::vector<std::uint32_t> expected = Literals(input, 0, 16127);
    expected.push_back(256);
    const std::vector<std::uint32_t> rest = Literals(input, 16127, input.size());
    expected.insert(expected.end(), rest.begin(), rest.end());
    expected.push_back(257);
    EXPECT_EQ(decoded.codes, expected);
    EXPECT_EQ(decoded.clearPositions, std::vector<std::uint64_t>{16128});
    EXPECT_EQ(decoded.endWidth, 13);

    // Without clearing the codes stay 14 bits wide once the dictionary is full.
    decoded = Decode(LzwEncode(input.data(), input.size(), {.clearWhenFull = false}));
    ASSERT_EQ(decoded.failure, "");
    expected = Literals(input, 0, input.size());
    expected.push_back(257);
    EXPECT_EQ(decoded.codes, expected);
    EXPECT_EQ(decoded.endWidth, 14);
}

TEST(LzwEncoderTest, EndCodeTakesTheWidthOfItsPositionAndIsPadded) {
    // Only the end code: 9 bits, zero-filled to two bytes, two look-ahead bytes.
    EXPECT_EQ(LzwEncode(nullptr, 0), (Bytes{0x80, 0x80, 0x00, 0x00}));

    // 253 literals: the end code at position 254 is 9 bits wide; 2286 bits fill 286 bytes.
    const Bytes input = DistinctPairs(254);
    Bytes stream = LzwEncode(input.data(), 253);
    Decoded decoded = Decode(stream);
    ASSERT_EQ(decoded.failure, "");
    EXPECT_EQ(decoded.endWidth, 9);
    EXPECT_EQ(stream.size(), 286u + 2u);

    // 254 literals: the end code at position 255 is 10 bits wide although 257 would fit in
    // 9; 2296 bits end exactly on a byte boundary, followed by the two look-ahead bytes.
    stream = LzwEncode(input.data(), 254);
    decoded = Decode(stream);
    ASSERT_EQ(decoded.failure, "");
    EXPECT_EQ(decoded.endWidth, 10);
    EXPECT_EQ(decoded.bitsAfterEnd, 16u);
    EXPECT_EQ(stream.size(), 287u + 2u);

    // The intermediate file: magic, then the same stream.
    const Bytes intermediate = LzwEncodeIntermediate(input.data(), 254);
    ASSERT_EQ(intermediate.size(), stream.size() + 4);
    EXPECT_EQ(Bytes(intermediate.begin(), intermediate.begin() + 4), (Bytes{'l', 'z', 'w', 0}));
    EXPECT_EQ(Bytes(intermediate.begin() + 4, intermediate.end()), stream);
}

TEST(LzwEncoderTest, NoCodeStandsForMoreThan4000Bytes) {
    // A run of one byte makes every code one byte longer than the one before (each names
    // the entry it defines) until the limit; 1 + 2 + ... + 4000 = 8002000 bytes reach it.
    // Varied text follows, whose codes only decode if the encoder kept numbering entries
    // in step with the decoder while matches were cut short at 4000 bytes.
    Bytes input(8002000 + 3 * 4000 + 17, 'x');
    const Bytes tail = Text(30000, 7);
    input.insert(input.end(), tail.begin(), tail.end());
    const Decoded decoded = Decode(LzwEncode(input.data(), input.size()));
    ASSERT_EQ(decoded.failure, "");
    EXPECT_EQ(decoded.longest, 4000u);
    EXPECT_TRUE(decoded.bytes == input);
}

TEST(LzwEncoderTest, DictionaryFullClearsOrStaysFull) {
    const Bytes input = Text(1500000, 1);

    Decoded decoded = Decode(LzwEncode(input.data(), input.size()));
    ASSERT_EQ(decoded.failure, "");
    EXPECT_TRUE(decoded.bytes == input);
    ASSERT_GE(decoded.clearPositions.size(), 2u);
    for (const std::uint64_t position : decoded.clearPositions) {
        EXPECT_EQ(position, 16128u);
    }

    decoded = Decode(LzwEncode(input.data(), input.size(), {.clearWhenFull = false}));
    ASSERT_EQ(decoded.failure, "");
    EXPECT_TRUE(decoded.bytes == input);
    EXPECT_TRUE(decoded.clearPositions.empty());
    EXPECT_GT(decoded.codes.size(), 16128u);

    decoded = Decode(LzwEncode(input.data(), 50000, {.clearEvery = 100}));
    ASSERT_EQ(decoded.failure, "");
    EXPECT_TRUE(decoded.bytes == Bytes(input.begin(), input.begin() + 50000));
    ASSERT_FALSE(decoded.clearPositions.empty());
    for (const std::uint64_t position : decoded.clearPositions) {
        EXPECT_EQ(position, 101u);
    }
}

TEST(LzwEncoderTest, FeedingInPiecesGivesTheSameStream) {
    Bytes input = Text(200000, 3);
    input.insert(input.end(), 9000, 'a');
    const Bytes whole = LzwEncode(input.data(), input.size());

    LzwEncoder encoder;
    Bytes pieces;
    std::size_t done = 0;
    for (std::size_t step = 1; done < input.size(); step = step * 3 % 4099 + 1) {
        const std::size_t count = std::min(step, input.size() - done);
        encoder.Feed(input.data() + done, count);
        done += count;
        pieces.insert(pieces.end(), encoder.Output().begin(), encoder.Output().end());
        encoder.Output().clear();
    }
    encoder.Feed(nullptr, 0);
    encoder.Finish();
    pieces.insert(pieces.end(), encoder.Output().begin(), encoder.Output().end());
    EXPECT_EQ(pieces, whole);
}

}  // namespace
}  // namespace sfx
