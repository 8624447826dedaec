// The SHA-256 behind `unsfx info`'s stub digest: the published test vectors, the block
// boundaries of the padding, any split of the message, and the start of a file.
#include "cli/sha256.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "tests/support/test_support.h"

namespace sfx::cli {
namespace {

using test::Bytes;
using test::TempDir;
using test::WriteBytes;

struct Vector {
    const char* name;
    std::string message;
    const char* digest;
};

std::string Repeated(char ch, std::size_t count) {
    return std::string(count, ch);
}

// The first five are the examples published with FIPS 180-4 (one block, empty, two blocks
// where the length spills into the second, the 896-bit message, a million 'a'); the rest
// put the message's end on each side of the 55/56 and 64 byte boundaries of the padding.
const Vector Vectors[] = {
    {"abc", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"empty", "", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
    {"448 bits", "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
     "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
    {"896 bits",
     "abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklmnopqrlmn"
     "opqrsmnopqrstnopqrstu",
     "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
    {"a million 'a'", Repeated('a', 1000000),
     "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    {"55 'a'", Repeated('a', 55),
     "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318"},
    {"56 'a'", Repeated('a', 56),
     "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a"},
    {"63 'a'", Repeated('a', 63),
     "7d3e74a05d7db15bce4ad9ec0658ea98e3f06eeecf16b4c6fff2da457ddc2f34"},
    {"64 'a'", Repeated('a', 64),
     "ffe054fe7ae0cb6dc65c3af9b61d5209f439851db43d0ba5997337df154668eb"},
    {"65 'a'", Repeated('a', 65),
     "635361c48bb9eab14198e76ea8ab7f1a41685d6ad62aa9146d301d4f17eb0ae0"},
    {"119 'a'", Repeated('a', 119),
     "31eba51c313a5c08226adf18d4a359cfdfd8d2e816b13f4af952f7ea6584dcfb"},
    {"120 'a'", Repeated('a', 120),
     "2f3d335432c70b580af0e8e1b3674a7c020d683aa5f73aaaedfdc55af904c21c"},
};

std::string DigestInPieces(const std::string& message, std::size_t piece) {
    Sha256 hash;
    for (std::size_t at = 0; at < message.size(); at += piece)
        AddToSha256(hash, message.data() + at, std::min(piece, message.size() - at));
    return HexOf(FinishSha256(hash));
}

TEST(Sha256Test, GivesThePublishedDigestsHoweverTheMessageIsSplit) {
    for (const Vector& v : Vectors) {
        for (std::size_t piece : {std::size_t{1000000}, std::size_t{1}, std::size_t{7},
                                  std::size_t{64}, std::size_t{65}, std::size_t{4096}})
            EXPECT_EQ(DigestInPieces(v.message, piece), v.digest)
                << v.name << " in pieces of " << piece;
    }
}

TEST(Sha256Test, HashesTheStartOfAFileInChunks) {
    TempDir dir;
    Bytes content(200000);
    for (std::size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    ASSERT_TRUE(WriteBytes(dir / "file", content));
    // Lengths on each side of the 64 KiB chunk, and the whole file.
    for (std::int64_t length : {0, 1, 65535, 65536, 65537, 131072, 199999, 200000}) {
        Sha256Digest digest{};
        ASSERT_TRUE(Sha256OfFileStart((dir / "file").c_str(), length, digest)) << length;
        const std::string start(content.begin(), content.begin() + length);
        EXPECT_EQ(HexOf(digest), DigestInPieces(start, 1000)) << length;
    }
    // A file shorter than asked for, and no file.
    Sha256Digest digest{};
    EXPECT_FALSE(Sha256OfFileStart((dir / "file").c_str(), 200001, digest));
    EXPECT_FALSE(Sha256OfFileStart((dir / "none").c_str(), 1, digest));
}

}  // namespace
}  // namespace sfx::cli
