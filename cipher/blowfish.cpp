#include "cipher/blowfish.h"

#include <cstring>
#include <initializer_list>

#include "cipher/blowfish_tables.h"
#include "cipher/blowfish_wide.h"
#include "platform/bytes.h"

namespace sfx {

namespace {

// The one cipher state of the process.
std::uint32_t P[18];
std::uint32_t S0[256];
std::uint32_t S1[256];
std::uint32_t S2[256];
std::uint32_t S3[256];

// How many turns of Crypt's loop (two rounds each) the compiler unrolls. All eight where
// speed alone counts; four in the Windows programs, which would otherwise carry two more
// copies of the rounds than the extractor's size budget leaves room for.
#if defined(_WIN32)
constexpr int UnrolledTurns = 4;
#else
constexpr int UnrolledTurns = 8;
#endif

inline std::uint32_t F(std::uint32_t x) {
    return ((S0[x >> 24] + S1[(x >> 16) & 0xFF]) ^ S2[(x >> 8) & 0xFF]) + S3[x & 0xFF];
}

// One round on N independent blocks: a ^= F(b) ^ subkey.
template <int N>
inline void Round(std::uint32_t (&a)[N], const std::uint32_t (&b)[N], std::uint32_t subkey) {
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) a[k] ^= F(b[k]) ^ subkey;
}

// The 16 rounds on N blocks at once, with the halves alternating instead of being exchanged.
// Decryption is encryption with the P-array taken from the end.
template <bool Decrypt, int N>
inline void Crypt(std::uint32_t (&l)[N], std::uint32_t (&r)[N]) {
    constexpr auto K = [](int i) { return Decrypt ? 17 - i : i; };
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) l[k] ^= P[K(0)];
#pragma GCC unroll UnrolledTurns
    for (int i = 1; i < 17; i += 2) {
        Round(r, l, P[K(i)]);
        Round(l, r, P[K(i + 1)]);
    }
#pragma GCC unroll 4
    for (int k = 0; k < N; ++k) {
        const std::uint32_t left = r[k] ^ P[K(17)];
        r[k] = l[k];
        l[k] = left;
    }
}

template <int N>
inline void DecryptStoredBlocks(std::uint8_t* data) {
    std::uint32_t l[N];
    std::uint32_t r[N];
    for (int k = 0; k < N; ++k) {
        l[k] = LoadLE32(data + 8 * k);
        r[k] = LoadLE32(data + 8 * k + 4);
    }
    Crypt<true>(l, r);
    for (int k = 0; k < N; ++k) {
        StoreLE32(data + 8 * k, l[k]);
        StoreLE32(data + 8 * k + 4, r[k]);
    }
}

}  // namespace

// Setting and clearing the key run once per extraction: they are kept small (cold functions
// are optimised for size), while the bulk decryption below is compiled for speed.
__attribute__((cold)) void BlowfishCipher::SetKey(const std::uint8_t* key, std::int16_t length) {
    std::memcpy(P, BlowfishInitialP, sizeof P);
    std::memcpy(S0, BlowfishInitialS[0], sizeof S0);
    std::memcpy(S1, BlowfishInitialS[1], sizeof S1);
    std::memcpy(S2, BlowfishInitialS[2], sizeof S2);
    std::memcpy(S3, BlowfishInitialS[3], sizeof S3);

    // The key is used cyclically, most significant byte first; the sums are 32-bit.
    const std::int32_t n = length;
    std::int16_t c = 0;
    for (std::uint32_t& subkey : P) {
        subkey ^= std::uint32_t{key[c]} << 24 | std::uint32_t{key[(c + 1) % n]} << 16 |
                  std::uint32_t{key[(c + 2) % n]} << 8 | std::uint32_t{key[(c + 3) % n]};
        c = static_cast<std::int16_t>((c + 4) % n);
    }

    std::uint32_t l = 0;
    std::uint32_t r = 0;
    for (int i = 0; i < 18; i += 2) {
        EncryptBlock(l, r);
        P[i] = l;
        P[i + 1] = r;
    }
    for (std::uint32_t* box : {S0, S1, S2, S3}) {
        for (int i = 0; i < 256; i += 2) {
            EncryptBlock(l, r);
            box[i] = l;
            box[i + 1] = r;
        }
    }
}

__attribute__((cold)) void BlowfishCipher::Clear() {
    Wipe(P, sizeof P);
    Wipe(S0, sizeof S0);
    Wipe(S1, sizeof S1);
    Wipe(S2, sizeof S2);
    Wipe(S3, sizeof S3);
}

void BlowfishCipher::EncryptBlock(std::uint32_t& left, std::uint32_t& right) {
    std::uint32_t l[1] = {left};
    std::uint32_t r[1] = {right};
    Crypt<false>(l, r);
    left = l[0];
    right = r[0];
}

void BlowfishCipher::DecryptBlock(std::uint32_t& left, std::uint32_t& right) {
    std::uint32_t l[1] = {left};
    std::uint32_t r[1] = {right};
    Crypt<true>(l, r);
    left = l[0];
    right = r[0];
}

void BlowfishCipher::DecryptBlocksLE(std::uint8_t* data, std::size_t blockCount) {
    const std::size_t wide = DecryptWideBlocksLE({P, {S0, S1, S2, S3}}, data, blockCount);
    data += 8 * wide;
    blockCount -= wide;
    // Four blocks at a time keep the independent table look-ups in flight together.
    for (; blockCount >= 4; blockCount -= 4, data += 32) DecryptStoredBlocks<4>(data);
    // The last blocks one at a time, through the one-block code rather than a copy of it.
    for (; blockCount > 0; --blockCount, data += 8) {
        std::uint32_t left = LoadLE32(data);
        std::uint32_t right = LoadLE32(data + 4);
        DecryptBlock(left, right);
        StoreLE32(data, left);
        StoreLE32(data + 4, right);
    }
}

}  // namespace sfx
