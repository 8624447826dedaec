#include "cipher/blowfish.h"

#include <bit>
#include <cstring>

#include "cipher/blowfish_tables.h"

namespace sfx {

namespace {

// The one cipher state of the process.
std::uint32_t P[18];
// The four S-boxes in one array, S-box 2 first: its index is the second byte of a half,
// which the compiler takes from a high-byte register and then cannot offset for free.
alignas(64) std::uint32_t S[4 * 256];
constexpr int BoxPlace[4] = {256, 512, 0, 768};
// S0[a] + S1[b] for every pair of the two upper bytes (a << 8 | b) of a half, made at key
// setup: the bulk decryption takes both look-ups and the addition in one.
alignas(64) std::uint32_t S01[256 * 256];

inline std::uint32_t F(std::uint32_t x) {
    return ((S[256 + (x >> 24)] + S[512 + ((x >> 16) & 0xFF)]) ^ S[(x >> 8) & 0xFF]) +
           S[768 + (x & 0xFF)];
}

inline std::uint32_t PairedF(std::uint32_t x) {
    return (S01[x >> 16] ^ S[(x >> 8) & 0xFF]) + S[768 + (x & 0xFF)];
}

using RoundFunction = std::uint32_t (*)(std::uint32_t);

// One round on N independent blocks: a ^= F(b) ^ subkey.
template <RoundFunction Fn, int N>
inline void Round(std::uint32_t (&a)[N], const std::uint32_t (&b)[N], std::uint32_t subkey) {
#pragma GCC unroll 8
    for (int k = 0; k < N; ++k) a[k] ^= Fn(b[k]) ^ subkey;
}

// The 16 rounds on N blocks at once, with the halves alternating instead of being exchanged.
// Decryption is encryption with the P-array taken from the end.
template <bool Decrypt, RoundFunction Fn, int N>
inline void Crypt(std::uint32_t (&l)[N], std::uint32_t (&r)[N]) {
    constexpr auto K = [](int i) { return Decrypt ? 17 - i : i; };
#pragma GCC unroll 8
    for (int k = 0; k < N; ++k) l[k] ^= P[K(0)];
    Round<Fn>(r, l, P[K(1)]);
    Round<Fn>(l, r, P[K(2)]);
    Round<Fn>(r, l, P[K(3)]);
    Round<Fn>(l, r, P[K(4)]);
    Round<Fn>(r, l, P[K(5)]);
    Round<Fn>(l, r, P[K(6)]);
    Round<Fn>(r, l, P[K(7)]);
    Round<Fn>(l, r, P[K(8)]);
    Round<Fn>(r, l, P[K(9)]);
    Round<Fn>(l, r, P[K(10)]);
    Round<Fn>(r, l, P[K(11)]);
    Round<Fn>(l, r, P[K(12)]);
    Round<Fn>(r, l, P[K(13)]);
    Round<Fn>(l, r, P[K(14)]);
    Round<Fn>(r, l, P[K(15)]);
    Round<Fn>(l, r, P[K(16)]);
#pragma GCC unroll 8
    for (int k = 0; k < N; ++k) {
        const std::uint32_t left = r[k] ^ P[K(17)];
        r[k] = l[k];
        l[k] = left;
    }
}

// Block halves are stored little-endian; the target platforms are all little-endian.
static_assert(std::endian::native == std::endian::little);

inline std::uint32_t Load(const std::uint8_t* bytes) {
    std::uint32_t word;
    std::memcpy(&word, bytes, sizeof word);
    return word;
}

inline void Store(std::uint8_t* bytes, std::uint32_t word) {
    std::memcpy(bytes, &word, sizeof word);
}

template <int N>
inline void DecryptStoredBlocks(std::uint8_t* data) {
    std::uint32_t l[N];
    std::uint32_t r[N];
    for (int k = 0; k < N; ++k) {
        l[k] = Load(data + 8 * k);
        r[k] = Load(data + 8 * k + 4);
    }
    Crypt<true, PairedF>(l, r);
    for (int k = 0; k < N; ++k) {
        Store(data + 8 * k, l[k]);
        Store(data + 8 * k + 4, r[k]);
    }
}

}  // namespace

void BlowfishCipher::SetKey(const std::uint8_t* key, std::int16_t length) {
    std::memcpy(P, BlowfishInitialP, sizeof P);
    for (int box = 0; box < 4; ++box) {
        std::memcpy(S + BoxPlace[box], BlowfishInitialS[box], sizeof BlowfishInitialS[box]);
    }

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
    for (int box = 0; box < 4; ++box) {
        std::uint32_t* entries = S + BoxPlace[box];
        for (int i = 0; i < 256; i += 2) {
            EncryptBlock(l, r);
            entries[i] = l;
            entries[i + 1] = r;
        }
    }

    const std::uint32_t* s0 = S + BoxPlace[0];
    const std::uint32_t* s1 = S + BoxPlace[1];
    for (int a = 0; a < 256; ++a) {
        for (int b = 0; b < 256; ++b) S01[a << 8 | b] = s0[a] + s1[b];
    }
}

void BlowfishCipher::EncryptBlock(std::uint32_t& left, std::uint32_t& right) {
    std::uint32_t l[1] = {left};
    std::uint32_t r[1] = {right};
    Crypt<false, F>(l, r);
    left = l[0];
    right = r[0];
}

void BlowfishCipher::DecryptBlock(std::uint32_t& left, std::uint32_t& right) {
    std::uint32_t l[1] = {left};
    std::uint32_t r[1] = {right};
    Crypt<true, F>(l, r);
    left = l[0];
    right = r[0];
}

void BlowfishCipher::DecryptBlocksLE(std::uint8_t* data, std::size_t blockCount) {
    // Eight blocks at a time keep enough independent look-ups in flight to hide the
    // latency of the paired table, which lives in the second-level cache.
    for (; blockCount >= 8; blockCount -= 8, data += 64) DecryptStoredBlocks<8>(data);
    for (; blockCount > 0; --blockCount, data += 8) DecryptStoredBlocks<1>(data);
}

}  // namespace sfx
