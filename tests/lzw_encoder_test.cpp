// The encoder's streams, read back by the reference decoder, which follows the extractor's
// rules: widths grow when the next free code reaches 2^width - 1, the first code after start
// or clear is a literal, at most 16383 entries, no string over 4000 bytes, and at least 25
// bits from the end code's first bit.
#include "tools/lzw_encoder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/lzw_reference.h"

namespace sfx {
namespace {

using namespace test;

// The stream read back by the reference decoder, which also asks at least 25 bits from the
// end code's first bit; only zero bits may follow the end code.
ReferenceResult Decode(const Bytes& stream) {
    ReferenceResult decoded = ReferenceDecode(stream);
    if (decoded.ok && !decoded.zeroAfterEnd)
        decoded.failure = "non-zero bits after the end code";
    return decoded;
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
    ReferenceResult decoded = Decode(LzwEncode(input.data(), input.size()));
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
    ReferenceResult decoded = Decode(stream);
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
    const ReferenceResult decoded = Decode(LzwEncode(input.data(), input.size()));
    ASSERT_EQ(decoded.failure, "");
    EXPECT_EQ(decoded.longest, 4000u);
    EXPECT_TRUE(decoded.output == input);
}

TEST(LzwEncoderTest, DictionaryFullClearsOrStaysFull) {
    const Bytes input = Text(1500000, 1);

    ReferenceResult decoded = Decode(LzwEncode(input.data(), input.size()));
    ASSERT_EQ(decoded.failure, "");
    EXPECT_TRUE(decoded.output == input);
    ASSERT_GE(decoded.clearPositions.size(), 2u);
    for (const std::uint64_t position : decoded.clearPositions) {
        EXPECT_EQ(position, 16128u);
    }

    decoded = Decode(LzwEncode(input.data(), input.size(), {.clearWhenFull = false}));
    ASSERT_EQ(decoded.failure, "");
    EXPECT_TRUE(decoded.output == input);
    EXPECT_TRUE(decoded.clearPositions.empty());
    EXPECT_GT(decoded.codes.size(), 16128u);

    decoded = Decode(LzwEncode(input.data(), 50000, {.clearEvery = 100}));
    ASSERT_EQ(decoded.failure, "");
    EXPECT_TRUE(decoded.output == Bytes(input.begin(), input.begin() + 50000));
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
