#include "cipher/blowfish_wide.h"

// Only 64-bit x86 builds carry the vector path; the others (the 32-bit Windows programs
// among them) always take the scalar one.
#if defined(__x86_64__) && defined(__GNUC__)
#define SFX_WIDE_BLOCKS 1
#include <cpuid.h>
#include <immintrin.h>

#include <atomic>
#include <cstring>

#include "platform/bytes.h"
#endif

namespace sfx {

#if SFX_WIDE_BLOCKS

namespace {

// GCC 12's AVX-512 intrinsics start from a deliberately undefined vector, which -O3 then
// reports as maybe used uninitialised.
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

#define SFX_AVX512 __attribute__((target("avx512f"), always_inline)) inline

// The S-boxes are looked up with two-table permutes rather than gathers: gathers of 16 words
// (and of 8 with AVX2) were no faster than the portable code, which keeps four blocks in
// flight, while the permutes run on the vector units and read the boxes in 64-byte rows.
//
// One S-box look-up for 16 words: each permute of a pair of rows finds 32 entries by the
// index's low 5 bits; bits 5 to 7 of `bits` then pick among the eight pairs.
SFX_AVX512 __m512i Look(const __m512i* box, __m512i index, __m512i bits) {
    __m512i found[8];
    for (int i = 0; i < 8; ++i)
        found[i] = _mm512_permutex2var_epi32(box[2 * i], index, box[2 * i + 1]);
    for (int level = 0, pairs = 4; pairs > 0; ++level, pairs /= 2) {
        const __mmask16 high = _mm512_test_epi32_mask(bits, _mm512_set1_epi32(32 << level));
        for (int i = 0; i < pairs; ++i)
            found[i] = _mm512_mask_blend_epi32(high, found[2 * i], found[2 * i + 1]);
    }
    return found[0];
}

// F on 16 words. The permutes read only the low 5 bits of an index, so the bytes need no
// masking.
SFX_AVX512 __m512i F16(const __m512i (*boxes)[16], __m512i x) {
#ifdef _WIN32
    // 64-bit Windows keeps the stack aligned to 16 bytes only, and GCC does not raise that
    // there. The rows it would keep from one look-up to the next do not all fit the
    // registers; in its stack slots they straddle cache lines or not by the depth of the
    // call, which halved the speed of some threads. So every look-up reads them where they
    // are, on cache lines of their own. Elsewhere the compiler's way is faster.
    __asm__("" : "+r"(boxes));
#endif
    const __m512i top = _mm512_srli_epi32(x, 24);
    const __m512i second = _mm512_srli_epi32(x, 16);
    const __m512i third = _mm512_srli_epi32(x, 8);
    const __m512i sum = _mm512_add_epi32(Look(boxes[0], top, top), Look(boxes[1], second, second));
    return _mm512_add_epi32(_mm512_xor_si512(sum, Look(boxes[2], third, third)),
                            Look(boxes[3], x, x));
}

SFX_AVX512 __m512i Broadcast(std::uint32_t word) {
    return _mm512_set1_epi32(static_cast<int>(word));
}

// Decrypts N groups of 16 blocks, the groups' rounds interleaved so that their look-ups
// overlap. A group's halves are split with one shuffle each; the lanes come out in another
// block order, which the unpacks at the end undo.
template <int N>
SFX_AVX512 void Decrypt16s(const std::uint32_t* p, const __m512i (*boxes)[16], std::uint8_t* data) {
    __m512i l[N];
    __m512i r[N];
    for (int k = 0; k < N; ++k) {
        const __m512 a = _mm512_loadu_ps(data + 128 * k);
        const __m512 b = _mm512_loadu_ps(data + 128 * k + 64);
        l[k] = _mm512_castps_si512(_mm512_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
        r[k] = _mm512_castps_si512(_mm512_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
        l[k] = _mm512_xor_si512(l[k], Broadcast(p[17]));
    }
    // Decryption takes the P-array from the end; the halves alternate instead of swapping.
    for (int i = 16; i > 0; i -= 2) {
        for (int k = 0; k < N; ++k)
            r[k] = _mm512_ternarylogic_epi32(r[k], F16(boxes, l[k]), Broadcast(p[i]), 0x96);
        for (int k = 0; k < N; ++k)
            l[k] = _mm512_ternarylogic_epi32(l[k], F16(boxes, r[k]), Broadcast(p[i - 1]), 0x96);
    }
    for (int k = 0; k < N; ++k) {
        const __m512 left = _mm512_castsi512_ps(_mm512_xor_si512(r[k], Broadcast(p[0])));
        const __m512 right = _mm512_castsi512_ps(l[k]);
        _mm512_storeu_ps(data + 128 * k, _mm512_unpacklo_ps(left, right));
        _mm512_storeu_ps(data + 128 * k + 64, _mm512_unpackhi_ps(left, right));
    }
}

__attribute__((target("avx512f"))) std::size_t DecryptAvx512(const BlowfishTables& tables,
                                                             std::uint8_t* data,
                                                             std::size_t blockCount) {
    // The boxes as vector rows, in a copy of this call's own that is wiped when done. Every
    // row starts on a cache line whatever the stack's alignment (see F16). GCC takes its frame
    // for aligned even on 64-bit Windows and would fold the rounding away: it is not to see
    // where the space lies.
    constexpr std::size_t BoxBytes = 4 * 16 * sizeof(__m512i);
    alignas(16) unsigned char space[BoxBytes + 48];
    unsigned char* start = space;
    __asm__("" : "+r"(start));
    start += -reinterpret_cast<std::uintptr_t>(start) & 63;
    for (int i = 0; i < 4; ++i) std::memcpy(start + i * BoxBytes / 4, tables.s[i], BoxBytes / 4);
    const auto* const boxes = reinterpret_cast<const __m512i(*)[16]>(start);
    std::size_t done = 0;
    // Four groups at a time measured fastest; then single groups.
    for (; blockCount - done >= 64; done += 64) Decrypt16s<4>(tables.p, boxes, data + 8 * done);
    for (; blockCount - done >= 16; done += 16) Decrypt16s<1>(tables.p, boxes, data + 8 * done);
    Wipe(space, sizeof space);
    return done;
}

// The state components that the system saves on a thread switch (XCR0). Only to be read
// once CPUID has said the system enabled XGETBV (OSXSAVE).
std::uint64_t SavedStates() {
    std::uint32_t low;
    std::uint32_t high;
    __asm__("xgetbv" : "=a"(low), "=d"(high) : "c"(0));
    return std::uint64_t{high} << 32 | low;
}

// AVX-512 takes both the processor (CPUID leaf 7: AVX512F) and a system that saves the
// vector registers' upper halves and the mask registers (XCR0: SSE, AVX, opmask, ZMM_Hi256,
// Hi16_ZMM). A system without XSAVE support for them, such as Windows XP or Windows 7
// before SP1, leaves OSXSAVE clear, and then XGETBV is not even executed.
bool HasAvx512() {
    constexpr std::uint64_t VectorStates = 0xE6;
    unsigned int a;
    unsigned int b;
    unsigned int c;
    unsigned int d;
    if (__get_cpuid_max(0, nullptr) < 7)
        return false;
    __cpuid(1, a, b, c, d);
    if ((c & bit_OSXSAVE) == 0 || (SavedStates() & VectorStates) != VectorStates)
        return false;
    __cpuid_count(7, 0, a, b, c, d);
    return (b & bit_AVX512F) != 0;
}

BlockPath WidestSupported() {
    return HasAvx512() ? BlockPath::Avx512 : BlockPath::Scalar;
}

// The widest path the processor has, found once.
BlockPath Supported() {
    static const BlockPath supported = WidestSupported();
    return supported;
}

// The path in use when LimitBlockPath has set one, else -1 for the widest supported.
std::atomic<int> limited{-1};

BlockPath InUse() {
    const int path = limited.load(std::memory_order_relaxed);
    return path < 0 ? Supported() : static_cast<BlockPath>(path);
}

}  // namespace

BlockPath LimitBlockPath(BlockPath widest) {
    const BlockPath path = widest < Supported() ? widest : Supported();
    limited.store(static_cast<int>(path), std::memory_order_relaxed);
    return path;
}

std::size_t DecryptWideBlocksLE(const BlowfishTables& tables, std::uint8_t* data,
                                std::size_t blockCount) {
    return InUse() == BlockPath::Avx512 ? DecryptAvx512(tables, data, blockCount) : 0;
}

#else

BlockPath LimitBlockPath(BlockPath) {
    return BlockPath::Scalar;
}

std::size_t DecryptWideBlocksLE(const BlowfishTables&, std::uint8_t*, std::size_t) {
    return 0;
}

#endif

}  // namespace sfx
