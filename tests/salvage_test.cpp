// unsfx extract --salvage and test --salvage on damaged and cut files, in real processes.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <set>

#include "engine/container.h"
#include "engine/status.h"
#include "tests/support/lzw_reference.h"
#include "tests/support/test_support.h"

namespace sfx {
namespace {

using namespace test;

// A stub whose code holds a header that looks like one, magic and all.
Bytes StubWithMagic() {
    Bytes stub = BytesOf("MZ stub with a header in its data: ");
    ContainerHeader decoy;
    decoy.compressed = 0;
    Bytes bytes(ContainerHeaderSize);
    decoy.Encode(bytes.data());
    stub.insert(stub.end(), bytes.begin(), bytes.end());
    const Bytes code = RandomBytes(500, 9);
    stub.insert(stub.end(), code.begin(), code.end());
    return stub;
}

struct Made {
    Bytes file;
    std::size_t payloadAt = 0;  // the first payload byte in the file
};

Made Make(const Bytes& payload, bool compressed, const Bytes& stub = BytesOf("MZ-stub-bytes"),
          const std::string& password = "secret") {
    ContainerSpec spec;
    spec.password = password;
    spec.compressed = compressed;
    spec.stub = stub;
    spec.description = BytesOf("desc");
    return {MakeContainer(payload, spec), stub.size() + ContainerHeaderSize};
}

Bytes Cut(Bytes bytes, std::size_t size) {
    bytes.resize(size);
    return bytes;
}

Bytes Flipped(Bytes bytes, const std::vector<std::size_t>& at) {
    for (std::size_t i : at) bytes[i] ^= 0x5A;
    return bytes;
}

Bytes Prefix(const Bytes& bytes, std::size_t size) {
    return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(size));
}

// The codes of an intermediate stream, and the bit where each ends, counted from the first.
struct Coded {
    std::vector<std::uint32_t> codes;
    std::vector<std::uint64_t> ends;
};

Coded CodesOf(const Bytes& intermediate) {
    Coded coded;
    coded.codes = ReferenceDecode(Bytes(intermediate.begin() + 4, intermediate.end())).codes;
    std::uint64_t bit = 0;
    long position = 0;
    for (std::uint32_t code : coded.codes) {
        bit += WidthAtPosition(++position);
        coded.ends.push_back(bit);
        if (code == 256)
            position = 0;
    }
    return coded;
}

// What codes [from, to) decode to on their own; `from` is 0 or just after a clear.
Bytes Decoded(const Coded& coded, std::size_t from, std::size_t to) {
    CodeStream stream;
    for (std::size_t i = from; i < to && coded.codes[i] != 257; ++i) {
        if (coded.codes[i] == 256)
            stream.Clear();
        else
            stream.Code(coded.codes[i]);
    }
    stream.Code(257);
    return ReferenceDecode(stream.Finish()).output;
}

// How many codes lie whole in the first `bytes` bytes of the intermediate stream.
std::size_t CodesWithin(const Coded& coded, std::size_t bytes) {
    const std::uint64_t bits = (bytes - 4) * 8;
    return static_cast<std::size_t>(std::upper_bound(coded.ends.begin(), coded.ends.end(), bits) -
                                    coded.ends.begin());
}

// The first code after the first clear that starts at or after byte `bytes`.
std::size_t AfterClearFrom(const Coded& coded, std::size_t bytes) {
    const std::uint64_t bits = (bytes - 4) * 8;
    for (std::size_t i = 1; i < coded.codes.size(); ++i)
        if (coded.codes[i] == 256 && coded.ends[i - 1] >= bits)
            return i + 1;
    return coded.codes.size();
}

TEST(SalvageTest, WhatComesBackFromDamagedAndCutFiles) {
    TempDir dir;
    const Bytes text = TextBytes(70000, 1);
    const Bytes plain = TextBytes(200000, 2);
    const Bytes stream = Intermediate(plain);
    const Made stored = Make(text, false);
    const Made packed = Make(stream, true);
    const Made decoyed = Make(text, false, StubWithMagic());
    // Keyed as on Windows from "café" in code page 1252, and from its UTF-8 bytes as an older
    // packer did; typed in UTF-8 on a POSIX terminal, as characters of the command line on
    // Windows (whose code page 1252 reads the UTF-8 bytes as "cafÃ©").
    const Made windowsKeyed = Make(text, false, BytesOf("MZ-stub-bytes"), "caf\xe9");
    const Made utf8Keyed = Make(stream, true, BytesOf("MZ-stub-bytes"), "caf\xc3\xa9");
#ifdef _WIN32
    const std::string typedCafe = "caf\xe9";
#else
    const std::string typedCafe = "caf\xc3\xa9";
#endif
    const std::size_t s = stored.payloadAt;
    const std::size_t p = packed.payloadAt;
    const std::size_t half = p + (stream.size() / 2 & ~std::size_t{7});
    const Coded coded = CodesOf(stream);
    // Every code that lies whole in the first `bytes` bytes of the stream.
    const auto whole = [&](std::size_t bytes) {
        return Decoded(coded, 0, CodesWithin(coded, bytes & ~std::size_t{7}));
    };
    const Bytes afterDamage =
        Decoded(coded, AfterClearFrom(coded, half - p + 8), coded.codes.size());

    struct Row {
        const char* name;
        Bytes file;
        std::string password;
        int exitCode;
        // The file that must come back, or for a stored payload with flipped bytes, the
        // blocks that may differ; nothing when nothing may be written.
        std::optional<Bytes> expected;
        std::set<std::size_t> damagedBlocks{};
        // Only this start of `expected` must come back, and `tail` at the end; what lies
        // between is damaged.
        bool prefixOnly = false;
        Bytes tail{};
        std::string message{};
    };
    const std::vector<Row> rows = {
        {"intact-stored", stored.file, "secret", Ok, text},
        {"intact-packed", packed.file, "secret", Ok, plain},
        {"flipped-stored",
         Flipped(stored.file, {s + 100, s + 5000, s + 5003, s + 20001}),
         "secret",
         DataDamaged,
         text,
         {12, 625, 2500},
         false,
         {},
         "byte sum off by"},
        {"stored-cut-mid-block",
         Cut(stored.file, s + 8 * 1000 + 3),
         "secret",
         DataDamaged,
         Prefix(text, 8 * 1000),
         {},
         false,
         {},
         "a wrong password can't be told apart"},
        {"stored-cut-at-block",
         Cut(stored.file, s + 8 * 2000),
         "secret",
         DataDamaged,
         Prefix(text, 8 * 2000),
         {},
         false,
         {},
         "found by its magic"},
        {"stored-cut-in-header",
         Cut(stored.file, s - 3),
         "secret",
         DataDamaged,
         std::nullopt,
         {},
         false,
         {},
         "no container found"},
        // The magic straddles two of the pieces the scan reads from the end.
        {"stored-cut-magic-across-pieces", Cut(stored.file, s - 280 + 65538), "secret", DataDamaged,
         Prefix(text, (65538 - 280) & ~7)},
        {"stored-trailer-in-part",
         Cut(stored.file, stored.file.size() - 2),
         "secret",
         DataDamaged,
         text,
         {},
         false,
         {},
         "trailer is cut"},
        {"stored-stub-with-magic-cut", Cut(decoyed.file, decoyed.payloadAt + 4000), "secret",
         DataDamaged, Prefix(text, 4000)},
        {"stored-stub-with-magic-intact", decoyed.file, "secret", Ok, text},
        // Every code that lies whole in the blocks present comes back.
        {"packed-cut-early", Cut(packed.file, p + 101), "secret", DataDamaged, whole(101)},
        {"packed-cut-in-first-block",
         Cut(packed.file, p + 7),
         "secret",
         DataDamaged,
         std::nullopt,
         {},
         false,
         {},
         "salvaged 0 bytes"},
        {"packed-cut-half",
         Cut(packed.file, half + 5),
         "secret",
         DataDamaged,
         whole(half - p + 5),
         {},
         false,
         {},
         "the data ends at byte"},
        {"packed-cut-before-end", Cut(packed.file, p + stream.size() - 9), "secret", DataDamaged,
         whole(stream.size() - 9)},
        // The start comes back, and all that follows the next clear code.
        {"packed-one-damaged-byte",
         Flipped(packed.file, {half + 2}),
         "secret",
         DataDamaged,
         whole(half - p),
         {},
         true,
         afterDamage,
         "1 span lost"},
        {"stored-wrong-password",
         stored.file,
         "bad",
         WrongPassword,
         std::nullopt,
         {},
         false,
         {},
         "wrong password; nothing was written"},
        {"packed-wrong-password", packed.file, "bad", WrongPassword, std::nullopt},
        {"packed-cut-wrong-password", Cut(packed.file, half), "bad", WrongPassword, std::nullopt},
        {"stored-cut-keyed-in-the-code-page", Cut(windowsKeyed.file, s + 8 * 1000), typedCafe,
         DataDamaged, Prefix(text, 8 * 1000)},
        {"packed-keyed-with-the-bytes-typed", utf8Keyed.file, "caf\xc3\xa9", Ok, plain},
    };
    // The terminal's character set, from which a password is converted to the code page.
    SetEnv("LC_ALL", "C.UTF-8");
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const std::string source = dir / (std::string(row.name) + ".exe");
        const std::string out = dir / row.name;
        ASSERT_TRUE(WriteBytes(source, row.file));
        const RunResult result =
            Unsfx({"extract", "--salvage", source, "-o", out, "-p", row.password});
        EXPECT_EQ(result.exitCode, row.exitCode) << result.err;
        EXPECT_NE(result.err.find(row.message), std::string::npos) << result.err;
        if (!row.expected) {
            EXPECT_FALSE(std::filesystem::exists(out));
            continue;
        }
        const Bytes got = ReadBytes(out);
        const Bytes& expected = *row.expected;
        if (row.prefixOnly) {
            ASSERT_GE(got.size(), expected.size());
            EXPECT_GT(expected.size(), 0u);
            EXPECT_TRUE(std::equal(expected.begin(), expected.end(), got.begin()));
            ASSERT_GE(got.size(), row.tail.size());
            EXPECT_GT(row.tail.size(), 0u);
            EXPECT_TRUE(std::equal(row.tail.begin(), row.tail.end(), got.end() - row.tail.size()));
        } else if (row.damagedBlocks.empty()) {
            EXPECT_EQ(got, expected);
        } else {
            ASSERT_EQ(got.size(), expected.size());
            for (std::size_t block = 0; block * 8 < got.size(); ++block) {
                const auto at = static_cast<std::ptrdiff_t>(block * 8);
                const bool same =
                    std::equal(got.begin() + at, got.begin() + at + 8, expected.begin() + at);
                EXPECT_EQ(same, row.damagedBlocks.count(block) == 0) << "block " << block;
            }
        }
        // Without --salvage the file is refused, and nothing is written.
        if (row.exitCode != Ok) {
            const std::string plainOut = out + ".plain";
            const RunResult refused =
                Unsfx({"extract", source, "-o", plainOut, "-p", row.password});
            EXPECT_NE(refused.exitCode, Ok);
            EXPECT_FALSE(std::filesystem::exists(plainOut));
        }
    }
    UnsetEnv("LC_ALL");
}

TEST(SalvageTest, TestReportsWithoutWritingAndNeverClobbers) {
    TempDir dir;
    const Bytes text = TextBytes(30000, 3);
    const Made stored = Make(text, false);
    const std::string cut = dir / "cut.exe";
    ASSERT_TRUE(WriteBytes(cut, Cut(stored.file, stored.payloadAt + 8003)));

    const RunResult json = Unsfx({"test", "--salvage", "--json", cut, "-p", "secret"});
    EXPECT_EQ(json.exitCode, DataDamaged) << json.err;
    for (const char* field :
         {"\"result\": \"damaged\"", "\"foundBy\": \"magic\"", "\"bytesRecovered\": 8000",
          "\"bytesDropped\": 3", "\"sumChecked\": false", "\"compressed\": false"})
        EXPECT_NE(json.out.find(field), std::string::npos) << field << "\n" << json.out;
    EXPECT_EQ(std::count(json.out.begin(), json.out.end(), '\n'), 1) << json.out;
    EXPECT_NE(json.err.find("salvaged 8000 bytes; container found by its magic"), std::string::npos)
        << json.err;
    const RunResult wrong = Unsfx({"test", "--salvage", cut, "-p", "bad"});
    EXPECT_EQ(wrong.exitCode, DataDamaged) << wrong.err;
    EXPECT_NE(wrong.err.find("a wrong password can't be told apart"), std::string::npos)
        << wrong.err;
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"cut.exe"});

    // The usual name beside FILE, never replaced without --force.
    ASSERT_TRUE(WriteBytes(dir / "cut", BytesOf("keep me")));
    const RunResult kept = Unsfx({"--salvage", cut, "-p", "secret"});
    EXPECT_EQ(kept.exitCode, 73) << kept.err;
    EXPECT_EQ(ReadBytes(dir / "cut"), BytesOf("keep me"));
    const RunResult forced = Unsfx({"--salvage", cut, "-p", "secret", "--force"});
    EXPECT_EQ(forced.exitCode, DataDamaged) << forced.err;
    EXPECT_EQ(ReadBytes(dir / "cut"), Prefix(text, 8000));
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"cut", "cut.exe"}));

    const RunResult usage = Unsfx({"info", "--salvage", cut});
    EXPECT_EQ(usage.exitCode, 64);
    const RunResult jsonWithoutSalvage = Unsfx({"test", "--json", cut, "-p", "secret"});
    EXPECT_EQ(jsonWithoutSalvage.exitCode, 64);
}

}  // namespace
}  // namespace sfx
