#include "lzw/lzw_decoder.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <vector>

#include "lzw/segment_decoder.h"
#include "platform/files.h"
#include "tests/support/lzw_reference.h"
#include "tools/lzw_encoder.h"

namespace sfx {
namespace {

using namespace test;

struct DecodeResult {
    bool ok;
    ExtractStatus status;
    Bytes output;
};

// Decodes with the serial decoder (1 thread) or in segments on `threads` threads.
DecodeResult DecodeFile(const std::string& inPath, const std::string& outPath, int threads = 1) {
    std::FILE* in = std::fopen(inPath.c_str(), "rb");
    std::FILE* out = std::fopen(outPath.c_str(), "wb");
    static std::vector<std::uint32_t> prefix(LzwDictionarySize);
    static std::vector<std::uint8_t> suffix(LzwDictionarySize);
    LzwDecoder& decoder = TheLzwDecoder();
    decoder.SetDictionary(prefix.data(), suffix.data());
    recordedProgress.clear();
    DecodeResult result;
    LzwSource source;
    source.file = in;
    source.length = platform::FileLength(in);
    result.ok = threads > 1 ? DecodeInSegments(decoder, source, out, RecordProgress, threads)
                            : decoder.Decode(in, out, RecordProgress);
    result.status = decoder.status();
    std::fclose(in);
    std::fclose(out);
    result.output = ReadBytes(outPath);
    return result;
}

DecodeResult Decode(const Bytes& stream, int threads = 1) {
    TempDir dir;
    WriteBytes(dir / "in", stream);
    return DecodeFile(dir / "in", dir / "out", threads);
}

// The thread counts every decoding promise is checked on: the serial decoder, and segments.
constexpr int ThreadCounts[] = {1, 2, 8};

TEST(LzwDecoderTest, SmallestStreams) {
    DecodeResult end = Decode(CodeStream().Code(257).Finish());
    EXPECT_TRUE(end.ok);
    EXPECT_TRUE(end.output.empty());
    EXPECT_EQ(recordedProgress, (Progress{{0, 0}}));

    DecodeResult one = Decode(CodeStream().Code('Q').Code(257).Finish());
    EXPECT_TRUE(one.ok);
    EXPECT_EQ(one.output, Bytes{'Q'});

    // The end code right after a clear ends the run normally.
    DecodeResult cleared = Decode(CodeStream().Code('a').Code('b').Clear().Code(257).Finish());
    EXPECT_TRUE(cleared.ok);
    EXPECT_EQ(cleared.output, (Bytes{'a', 'b'}));
}

TEST(LzwDecoderTest, LookAheadMustBePresent) {
    // 9 bits of end code + 7 padding bits = 16 bits; 25 are needed from its first bit.
    EXPECT_FALSE(Decode(CodeStream().Code(257).Finish(1)).ok);
    EXPECT_EQ(TheLzwDecoder().status(), DecompressFailed);
    EXPECT_TRUE(Decode(CodeStream().Code(257).Finish(2)).ok);
    // Truncated in the middle of the data.
    Bytes plain = TextBytes(5000, 1);
    Bytes stream = LzwEncode(plain.data(), plain.size());
    stream.resize(stream.size() / 2);
    DecodeResult cut = Decode(stream);
    EXPECT_FALSE(cut.ok);
    EXPECT_EQ(cut.status, DecompressFailed);
    EXPECT_FALSE(cut.output.empty());  // what was decoded so far went out
    EXPECT_EQ(cut.output, Bytes(plain.begin(), plain.begin() + cut.output.size()));
}

TEST(LzwDecoderTest, WidthsGrowByPosition) {
    // Streams of literals only, ending with the end code at every boundary position.
    for (long endAt : {254L, 255L, 766L, 767L, 1790L, 1791L, 3838L, 3839L, 7934L, 7935L, 9000L}) {
        CodeStream stream;
        Bytes expected;
        while (stream.position() < endAt - 1) {
            auto byte = static_cast<std::uint8_t>(stream.position() * 7);
            stream.Code(byte);
            expected.push_back(byte);
        }
        stream.Code(257);
        DecodeResult result = Decode(stream.Finish());
        EXPECT_TRUE(result.ok) << endAt;
        EXPECT_EQ(result.output, expected) << endAt;
    }
}

TEST(LzwDecoderTest, RunsAndTheStackLimit) {
    // 'a', then codes 258, 259, ...: each names the entry it defines, code c spelling
    // c - 256 bytes. Code 4256 spells 4000 bytes, the most the stack holds.
    auto run = [](std::uint32_t last) {
        CodeStream stream;
        stream.Code('a');
        for (std::uint32_t code = 258; code <= last; ++code) stream.Code(code);
        return stream.Code(257).Finish();
    };
    DecodeResult fits = Decode(run(4256));
    ASSERT_TRUE(fits.ok);
    const std::size_t total = 1 + (2 + 4000) * 3999 / 2;
    EXPECT_EQ(fits.output, Bytes(total, 'a'));

    DecodeResult over = Decode(run(4257));
    EXPECT_FALSE(over.ok);
    EXPECT_EQ(over.status, DecompressFailed);
    EXPECT_EQ(over.output.size(), total);
}

TEST(LzwDecoderTest, FullDictionaryThenClear) {
    // Literals until the dictionary is full, more 14-bit codes that add nothing, a code
    // naming entry 16383, then a clear and 9-bit codes with entries defined anew.
    CodeStream stream;
    Bytes expected;
    for (int i = 0; i < 16200; ++i) {
        auto byte = static_cast<std::uint8_t>(i % 251);
        stream.Code(byte);
        expected.push_back(byte);
    }
    // Entry 16383 was defined by the 16127th code: its string is codes 16126 and 16127.
    stream.Code(16383);
    expected.push_back(static_cast<std::uint8_t>(16125 % 251));
    expected.push_back(static_cast<std::uint8_t>(16126 % 251));
    stream.Clear();
    stream.Code('x').Code('y').Code(258).Code(257);
    expected.insert(expected.end(), {'x', 'y', 'x', 'y'});
    DecodeResult result = Decode(stream.Finish());
    ASSERT_TRUE(result.ok);
    EXPECT_EQ(result.output, expected);
}

TEST(LzwDecoderTest, InvalidCodesFail) {
    struct Case {
        const char* name;
        Bytes stream;
    };
    const std::vector<Case> cases = {
        {"clear first", CodeStream().Code(256).Code('a').Code(257).Finish()},
        {"entry first", CodeStream().Code(300).Code(257).Finish()},
        {"entry first after clear",
         CodeStream().Code('a').Code('b').Clear().Code(258).Code(257).Finish()},
        {"clear after clear", CodeStream().Code('a').Clear().Code(256).Code(257).Finish()},
        {"beyond next free", CodeStream().Code('a').Code(259).Code(257).Finish()},
        {"beyond next free after clear",
         CodeStream().Code('a').Code('b').Code('c').Clear().Code('d').Code(259).Code(257).Finish()},
    };
    for (const auto& c : cases) {
        DecodeResult result = Decode(c.stream);
        EXPECT_FALSE(result.ok) << c.name;
        EXPECT_EQ(result.status, DecompressFailed) << c.name;
    }
}

TEST(LzwDecoderTest, RoundTripsThroughTheEncoder) {
    std::vector<Bytes> inputs = {
        {},
        {0},
        TextBytes(1, 2),
        TextBytes(100000, 3),
        RandomBytes(70000, 4),
        Bytes(100000, 0),
        Bytes(9000, 0xFF),
    };
    Bytes mixed = RandomBytes(200000, 5);
    for (std::size_t i = 0; i < mixed.size(); i += 1000) mixed[i] = 0;
    inputs.push_back(mixed);
    for (const auto& input : inputs) {
        Bytes stream = LzwEncode(input.data(), input.size());
        DecodeResult result = Decode(stream);
        ASSERT_TRUE(result.ok) << input.size();
        EXPECT_EQ(result.output, input) << input.size();
    }
    // Without clears: the dictionary stays full for the rest of the stream.
    LzwEncoderOptions keep;
    keep.clearWhenFull = false;
    Bytes big = RandomBytes(300000, 6);
    DecodeResult full = Decode(LzwEncode(big.data(), big.size(), keep));
    ASSERT_TRUE(full.ok);
    EXPECT_EQ(full.output, big);
}

TEST(LzwDecoderTest, ProgressEvery1024Fetches) {
    Bytes plain = RandomBytes(5000, 8);
    Bytes stream = LzwEncode(plain.data(), plain.size());
    DecodeResult result = Decode(stream);
    ASSERT_TRUE(result.ok);
    const auto length = static_cast<std::int32_t>(stream.size());
    Progress expected;
    for (std::int32_t fetched = 1024; fetched <= length; fetched += 1024) {
        expected.emplace_back(fetched, length);
    }
    expected.emplace_back(0, 0);
    EXPECT_EQ(recordedProgress, expected);
}

#ifndef _WIN32
TEST(LzwDecoderTest, FailedWritesFail) {
    // Writes that fail at once and later on (while more output is being decoded): what fits
    // is written, nothing after it.
    Bytes plain = RandomBytes(400000, 9);
    TempDir dir;
    WriteBytes(dir / "in", LzwEncode(plain.data(), plain.size()));
    for (rlim_t limit : {rlim_t{0}, rlim_t{100000}, rlim_t{300000}}) {
        std::string serialProgress;
        for (int threads : ThreadCounts) {
            pid_t child = fork();
            if (child == 0) {
                std::signal(SIGXFSZ, SIG_IGN);
                rlimit rl{limit, limit};
                setrlimit(RLIMIT_FSIZE, &rl);
                DecodeResult result = DecodeFile(dir / "in", dir / "out", threads);
                // The progress calls go to the parent as the exit status's high bits.
                _exit(result.ok
                          ? 0
                          : result.status + 16 * static_cast<int>(recordedProgress.size() % 16));
            }
            int status = 0;
            waitpid(child, &status, 0);
            ASSERT_TRUE(WIFEXITED(status));
            EXPECT_EQ(WEXITSTATUS(status) % 16, DecompressFailed) << limit << " " << threads;
            EXPECT_TRUE(ReadBytes(dir / "out") ==
                        Bytes(plain.begin(), plain.begin() + static_cast<std::ptrdiff_t>(limit)))
                << limit << " " << threads;
            // As many progress calls before the failed write as the serial decoder makes.
            const std::string calls = std::to_string(WEXITSTATUS(status) / 16);
            if (threads == 1)
                serialProgress = calls;
            EXPECT_EQ(calls, serialProgress) << limit << " " << threads;
        }
    }
}
#endif

// Decodes `stream` with the decoder and with the plain reference decoder and expects the
// same result, the same bytes out and the same progress calls.
void ExpectSameAsReference(const Bytes& stream, const std::string& what) {
    const ReferenceResult expected = ReferenceDecode(stream);
    for (int threads : ThreadCounts) {
        SCOPED_TRACE(what + ", " + std::to_string(threads) + " threads");
        DecodeResult result = Decode(stream, threads);
        EXPECT_EQ(result.ok, expected.ok);
        EXPECT_EQ(result.status, result.ok ? Ok : DecompressFailed);
        EXPECT_EQ(result.output.size(), expected.output.size());
        EXPECT_TRUE(result.output == expected.output);
        EXPECT_EQ(recordedProgress, expected.progress);
    }
}

// Segments of literal codes, `lengths` codes each, every one ended by a clear code but the
// last, which the end code ends.
CodeStream Segments(std::initializer_list<int> lengths) {
    CodeStream stream;
    int n = 0;
    for (int length : lengths) {
        if (n++ > 0)
            stream.Clear();
        for (int i = 0; i < length; ++i) stream.Code('a' + (i * 7 + n) % 26);
    }
    return stream;
}

TEST(LzwDecoderTest, AgreesWithAPlainDecoderOnWholeCutAndDamagedStreams) {
    // Streams long enough to cross the decoder's input and output buffers many times: text
    // with clears, random bytes into a dictionary that stays full (entries used long after
    // they were last seen), and long runs (strings near the stack limit).
    LzwEncoderOptions keep;
    keep.clearWhenFull = false;
    const Bytes text = TextBytes(700000, 21);
    const Bytes noise = RandomBytes(300000, 22);
    Bytes runs;
    for (int i = 0; runs.size() < 900000; ++i) runs.insert(runs.end(), 1000 + i * 37, 'a' + i % 3);
    LzwEncoderOptions often;
    often.clearEvery = 1000;
    // Decoding in segments takes each segment to be as long as the last until its codes say
    // otherwise: a clear or end code before the one found where the guess put it, or a first
    // code that is no literal there. These segments are 9-bit codes throughout, so a clear
    // code stands where the guess looks.
    const Bytes earlierClear = Segments({100, 40, 59, 100}).Code(257).Finish();
    CodeStream endFirst = Segments({100, 40});
    endFirst.Code(257);
    for (int i = 0; i < 59; ++i) endFirst.Code('z');
    CodeStream noLiteral = Segments({100});
    noLiteral.Clear().Code(258);
    for (int i = 0; i < 99; ++i) noLiteral.Code('y');
    noLiteral.Clear().Code('x');
    // Short segments, then one too long for a segment's memory: the serial decoder goes on.
    CodeStream longLast = Segments({100, 100, 300, 100, 60000});
    const std::vector<std::pair<std::string, Bytes>> streams = {
        {"text", LzwEncode(text.data(), text.size())},
        {"noise", LzwEncode(noise.data(), noise.size(), keep)},
        {"runs", LzwEncode(runs.data(), runs.size())},
        {"text cleared every 1000 codes", LzwEncode(text.data(), text.size() / 4, often)},
        {"segments of changing lengths",
         Segments({300, 300, 7, 2000, 2000, 1, 1, 9000, 5}).Code(257).Finish()},
        {"a clear code before the guessed one", earlierClear},
        {"the end code before a guessed clear", endFirst.Code(256).Finish()},
        {"a first code that is no literal", noLiteral.Code(257).Finish()},
        {"short segments, then a long one", longLast.Code(257).Finish()},
    };
    for (const auto& [name, stream] : streams) {
        ExpectSameAsReference(stream, name);
        const std::size_t size = stream.size();
        // Cut where the input runs out at a 1024th fetch, at the input buffer's edge and
        // in the end code's look-ahead.
        for (std::size_t cut :
             {std::size_t{1}, std::size_t{3}, std::size_t{4}, std::size_t{1023}, std::size_t{1024},
              std::size_t{65535}, std::size_t{65536}, std::size_t{65537}, size / 3, size - 4,
              size - 3, size - 2, size - 1}) {
            if (cut >= size)
                continue;  // a short stream has no such edge
            ExpectSameAsReference(Bytes(stream.begin(), stream.begin() + cut),
                                  name + " cut at " + std::to_string(cut));
        }
        // Damage early, late, and in the last segment.
        for (int k = 1; k <= 9; ++k) {
            Bytes damaged = stream;
            const std::size_t at = k < 9 ? size * k / 9 : size > 12 ? size - 12 : 0;
            damaged[at] ^= static_cast<std::uint8_t>(0x5A + k);
            ExpectSameAsReference(damaged, name + " damaged at " + std::to_string(at));
        }
    }
}

TEST(LzwDecoderTest, EntriesNotSeenForLongAreSpelledFromTheDictionary) {
    // A run builds entries up to 4000 bytes; 14-bit literals then fill the dictionary and
    // push those strings far out of recent output; the longest and a short entry follow.
    CodeStream stream;
    Bytes expected;
    stream.Code('a');
    expected.push_back('a');
    for (std::uint32_t code = 258; code <= 4256; ++code) {
        stream.Code(code);
        expected.insert(expected.end(), code - 256, 'a');
    }
    for (int i = 0; i < 400000; ++i) {
        auto byte = static_cast<std::uint8_t>('0' + i % 10);
        stream.Code(byte);
        expected.push_back(byte);
    }
    stream.Code(4256).Code(4256).Code(258);
    expected.insert(expected.end(), 2 * 4000 + 2, 'a');
    const Bytes bytes = stream.Code(257).Finish();
    DecodeResult result = Decode(bytes);
    ASSERT_TRUE(result.ok);
    EXPECT_TRUE(result.output == expected);
    ExpectSameAsReference(bytes, "far entries");
}

}  // namespace
}  // namespace sfx
