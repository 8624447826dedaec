#include "cipher/blowfish.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "cipher/blowfish_wide.h"
#include "platform/bytes.h"

namespace sfx {
namespace {

std::uint64_t ParseHex(const char* text) {
    return std::stoull(text, nullptr, 16);
}

void SetKey(const std::vector<std::uint8_t>& key) {
    BlowfishCipher::SetKey(key.data(), static_cast<std::int16_t>(key.size()));
}

std::vector<std::uint8_t> KeyBytes(std::uint64_t key) {
    std::vector<std::uint8_t> bytes(8);
    for (int i = 0; i < 8; ++i) bytes[i] = static_cast<std::uint8_t>(key >> (56 - 8 * i));
    return bytes;
}

std::uint64_t Encrypt(std::uint64_t block) {
    std::uint32_t l = static_cast<std::uint32_t>(block >> 32);
    std::uint32_t r = static_cast<std::uint32_t>(block);
    BlowfishCipher::EncryptBlock(l, r);
    return std::uint64_t{l} << 32 | r;
}

std::uint64_t Decrypt(std::uint64_t block) {
    std::uint32_t l = static_cast<std::uint32_t>(block >> 32);
    std::uint32_t r = static_cast<std::uint32_t>(block);
    BlowfishCipher::DecryptBlock(l, r);
    return std::uint64_t{l} << 32 | r;
}

// Ciphertexts of a fixed series of blocks: equal fingerprints mean equal cipher states.
std::vector<std::uint64_t> Fingerprint() {
    std::vector<std::uint64_t> out;
    std::uint64_t block = 0x0123456789ABCDEF;
    for (int i = 0; i < 64; ++i) {
        block = Encrypt(block + i);
        out.push_back(block);
    }
    return out;
}

std::vector<std::uint64_t> FingerprintOf(const std::vector<std::uint8_t>& key) {
    SetKey(key);
    return Fingerprint();
}

std::vector<std::uint8_t> Pattern(std::size_t length, unsigned seed) {
    std::vector<std::uint8_t> bytes(length);
    for (std::size_t i = 0; i < length; ++i) bytes[i] = static_cast<std::uint8_t>(seed + i * 37);
    return bytes;
}

// The published variable-key test vectors: key, plaintext, ciphertext, all big-endian.
const char* const kVectors[][3] = {
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FFFFFFFFFFFFFFFF", "FFFFFFFFFFFFFFFF", "51866FD5B85ECB8A"},
    {"3000000000000000", "1000000000000001", "7D856F9A613063F2"},
    {"1111111111111111", "1111111111111111", "2466DD878B963C9D"},
    {"0123456789ABCDEF", "1111111111111111", "61F9C3802281B096"},
    {"1111111111111111", "0123456789ABCDEF", "7D0CC630AFDA1EC7"},
    {"0000000000000000", "0000000000000000", "4EF997456198DD78"},
    {"FEDCBA9876543210", "0123456789ABCDEF", "0ACEAB0FC6A0A28D"},
    {"7CA110454A1A6E57", "01A1D6D039776742", "59C68245EB05282B"},
    {"0131D9619DC1376E", "5CD54CA83DEF57DA", "B1B8CC0B250F09A0"},
    {"07A1133E4A0B2686", "0248D43806F67172", "1730E5778BEA1DA4"},
    {"3849674C2602319E", "51454B582DDF440A", "A25E7856CF2651EB"},
    {"04B915BA43FEB5B6", "42FD443059577FA2", "353882B109CE8F1A"},
    {"0113B970FD34F2CE", "059B5E0851CF143A", "48F4D0884C379918"},
    {"0170F175468FB5E6", "0756D8E0774761D2", "432193B78951FC98"},
    {"43297FAD38E373FE", "762514B829BF486A", "13F04154D69D1AE5"},
    {"07A7137045DA2A16", "3BDD119049372802", "2EEDDA93FFD39C79"},
    {"04689104C2FD3B2F", "26955F6835AF609A", "D887E0393C2DA6E3"},
    {"37D06BB516CB7546", "164D5E404F275232", "5F99D04F5B163969"},
    {"1F08260D1AC2465E", "6B056E18759F5CCA", "4A057A3B24D3977B"},
    {"584023641ABA6176", "004BD6EF09176062", "452031C1E4FADA8E"},
    {"025816164629B007", "480D39006EE762F2", "7555AE39F59B87BD"},
    {"49793EBC79B3258F", "437540C8698F3CFA", "53C55F9CB49FC019"},
    {"4FB05E1515AB73A7", "072D43A077075292", "7A8E7BFA937E89A3"},
    {"49E95D6D4CA229BF", "02FE55778117F12A", "CF9C5D7A4986ADB5"},
    {"018310DC409B26D6", "1D9D5C5018F728C2", "D1ABB290658BC778"},
    {"1C587F1C13924FEF", "305532286D6F295A", "55CB3774D13EF201"},
    {"0101010101010101", "0123456789ABCDEF", "FA34EC4847B268B2"},
    {"1F1F1F1F0E0E0E0E", "0123456789ABCDEF", "A790795108EA3CAE"},
    {"E0FEE0FEF1FEF1FE", "0123456789ABCDEF", "C39E072D9FAC631D"},
    {"0000000000000000", "FFFFFFFFFFFFFFFF", "014933E0CDAFF6E4"},
    {"FFFFFFFFFFFFFFFF", "0000000000000000", "F21E9A77B71C49BC"},
    {"0123456789ABCDEF", "0000000000000000", "245946885754369A"},
    {"FEDCBA9876543210", "FFFFFFFFFFFFFFFF", "6B5C5A9C5D9E0A5A"},
};

TEST(BlowfishVectors, PublishedVectorsEncryptAndDecrypt) {
    for (const auto& vector : kVectors) {
        SCOPED_TRACE(vector[0]);
        const std::uint64_t plain = ParseHex(vector[1]);
        const std::uint64_t cipher = ParseHex(vector[2]);
        SetKey(KeyBytes(ParseHex(vector[0])));
        EXPECT_EQ(Encrypt(plain), cipher);
        EXPECT_EQ(Decrypt(cipher), plain);
    }
}

TEST(BlowfishVectors, ShortKeysUseTheirBytesCyclically) {
    SetKey({0x01});
    EXPECT_EQ(Encrypt(0), 0x6136C6152EA7C5A4u);
    SetKey({0x01, 0x08, 0x0F});
    EXPECT_EQ(Encrypt(0), 0x674B369C99D4F063u);
}

TEST(BlowfishBlocks, DecryptUndoesEncrypt) {
    for (std::size_t length : {1, 4, 8, 56, 72, 255}) {
        SetKey(Pattern(length, static_cast<unsigned>(length)));
        std::uint64_t block = 0xFEDCBA9876543210;
        for (int i = 0; i < 1000; ++i) {
            block = block * 6364136223846793005u + 1442695040888963407u;
            ASSERT_EQ(Decrypt(Encrypt(block)), block) << "key length " << length;
        }
    }
}

TEST(BlowfishKeySchedule, ShortKeyEqualsItsCyclicRepetition) {
    const std::vector<std::uint8_t> key = {0x71, 0x75, 0x69, 0x62};
    std::vector<std::uint8_t> repeated;
    for (int i = 0; i < 18; ++i) repeated.insert(repeated.end(), key.begin(), key.end());
    EXPECT_EQ(FingerprintOf(key), FingerprintOf(repeated));

    const std::vector<std::uint8_t> one = {0xA5};
    EXPECT_EQ(FingerprintOf(one), FingerprintOf({0xA5, 0xA5, 0xA5, 0xA5}));
    EXPECT_EQ(FingerprintOf(one), FingerprintOf(std::vector<std::uint8_t>(72, 0xA5)));
    EXPECT_NE(FingerprintOf(one), FingerprintOf({0xA4}));
}

TEST(BlowfishKeySchedule, OnlyTheFirst72KeyBytesCount) {
    const std::vector<std::uint8_t> longest = Pattern(32767, 3);
    const auto expected =
        FingerprintOf(std::vector<std::uint8_t>(longest.begin(), longest.begin() + 72));
    for (std::size_t length : {73, 255, 32767}) {
        std::vector<std::uint8_t> key(longest.begin(), longest.begin() + length);
        EXPECT_EQ(FingerprintOf(key), expected) << "key length " << length;
        key.back() ^= 0xFF;
        EXPECT_EQ(FingerprintOf(key), expected) << "key length " << length;
    }
    EXPECT_NE(FingerprintOf(std::vector<std::uint8_t>(longest.begin(), longest.begin() + 71)),
              expected);
}

TEST(BlowfishKeySchedule, NewKeyDiscardsThePreviousOne) {
    const std::vector<std::uint8_t> a = Pattern(56, 1);
    const std::vector<std::uint8_t> b = Pattern(200, 2);
    const auto first = FingerprintOf(a);
    EXPECT_NE(FingerprintOf(b), first);
    EXPECT_EQ(FingerprintOf(a), first);
}

TEST(BlowfishKeySchedule, ClearLeavesNothingOfTheKey) {
    // With every subkey and table entry zero the rounds change nothing: a block comes out
    // with its halves exchanged.
    SetKey(KeyBytes(0xFEDCBA9876543210));
    BlowfishCipher::Clear();
    EXPECT_EQ(Encrypt(0x0123456789ABCDEF), 0x89ABCDEF01234567u);
}

TEST(BlowfishStoredBlocks, StoredBlockIsLittleEndianHalves) {
    SetKey(std::vector<std::uint8_t>(8, 0));
    std::uint8_t block[8] = {0x45, 0x97, 0xF9, 0x4E, 0x78, 0xDD, 0x98, 0x61};
    BlowfishCipher::DecryptBlocksLE(block, 1);
    const std::uint8_t zero[8] = {};
    EXPECT_EQ(std::memcmp(block, zero, 8), 0);
}

// Decrypts `count` stored blocks, `offset` bytes into a buffer (plus two guard blocks that
// must stay untouched), in bulk and block by block, under the key in force.
void ExpectBulkMatchesSingleBlocks(std::size_t count, std::size_t offset = 0) {
    SCOPED_TRACE(testing::Message() << count << " blocks at offset " << offset);
    std::vector<std::uint8_t> data =
        Pattern(offset + 8 * (count + 2), static_cast<unsigned>(count));
    std::vector<std::uint8_t> expected = data;
    for (std::size_t i = 0; i < count; ++i) {
        std::uint8_t* bytes = expected.data() + offset + 8 * i;
        std::uint32_t l = LoadLE32(bytes);
        std::uint32_t r = LoadLE32(bytes + 4);
        BlowfishCipher::DecryptBlock(l, r);
        StoreLE32(bytes, l);
        StoreLE32(bytes + 4, r);
    }
    BlowfishCipher::DecryptBlocksLE(data.data() + offset, count);
    EXPECT_EQ(data, expected);
}

// Runs `check` on every bulk path this processor has, the portable one first; the widest
// is in force again afterwards.
template <typename Check>
void OnEveryBulkPath(Check check) {
    for (BlockPath path : {BlockPath::Scalar, BlockPath::Avx512}) {
        if (LimitBlockPath(path) != path)
            continue;  // not on this processor
        SCOPED_TRACE(testing::Message() << "bulk path " << static_cast<int>(path));
        check();
    }
    LimitBlockPath(BlockPath::Avx512);
}

TEST(BlowfishStoredBlocks, BulkDecryptionMatchesSingleBlocks) {
    SetKey(Pattern(56, 9));
    // Around the widths of the vector path: groups of 16 blocks, four groups at a time.
    static const std::size_t counts[] = {0,  1,  2,  3,  4,  5,  6,  7,  8,  9,  15,  16,  17,
                                         31, 32, 33, 47, 48, 63, 64, 65, 71, 83, 127, 128, 1001};
    OnEveryBulkPath([] {
        for (std::size_t count : counts) ExpectBulkMatchesSingleBlocks(count);
        for (std::size_t count : {16, 64 + 16 + 3}) ExpectBulkMatchesSingleBlocks(count, 3);
    });
}

TEST(BlowfishStoredBlocks, BulkDecryptionFollowsEveryNewKey) {
    // The bulk paths must use the state of the key in force, also after going back to an
    // earlier key.
    OnEveryBulkPath([] {
        for (const auto& key : {Pattern(56, 1), Pattern(4, 2), Pattern(56, 1), Pattern(300, 3)}) {
            SetKey(key);
            ExpectBulkMatchesSingleBlocks(40);
            ExpectBulkMatchesSingleBlocks(64 + 16 + 7);
        }
    });
}

TEST(BlowfishStoredBlocks, PortablePathIsAlwaysThere) {
    EXPECT_EQ(LimitBlockPath(BlockPath::Scalar), BlockPath::Scalar);
    // Held to the portable path, the vector path takes no block, whatever the processor has.
    static const std::uint32_t p[18] = {};
    static const std::uint32_t s[4][256] = {};
    std::vector<std::uint8_t> blocks = Pattern(8 * 128, 5);
    const std::vector<std::uint8_t> before = blocks;
    EXPECT_EQ(DecryptWideBlocksLE({p, {s[0], s[1], s[2], s[3]}}, blocks.data(), 128), 0u);
    EXPECT_EQ(blocks, before);
    const BlockPath widest = LimitBlockPath(BlockPath::Avx512);
    EXPECT_TRUE(widest == BlockPath::Scalar || widest == BlockPath::Avx512);
}

}  // namespace
}  // namespace sfx
