// The sum of a run of bytes, each taken as an unsigned value 0 to 255.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace sfx {

// Eight bytes at a time in plain C++: each 64-bit word adds its bytes pairwise into four
// 16-bit lanes, which take at most 128 words (128 * 2 * 255 < 65536) before they are
// folded into the total.
inline std::uint64_t ByteSumPortable(const std::uint8_t* bytes, std::size_t count) {
    constexpr std::uint64_t EvenBytes = 0x00FF00FF00FF00FF;
    constexpr std::uint64_t EvenLanes = 0x0000FFFF0000FFFF;
    std::uint64_t sum = 0;
    while (count >= 8) {
        std::size_t words = count / 8 < 128 ? count / 8 : 128;
        count -= words * 8;
        std::uint64_t lanes = 0;
        for (; words > 0; --words, bytes += 8) {
            std::uint64_t word;
            std::memcpy(&word, bytes, sizeof word);
            lanes += (word & EvenBytes) + ((word >> 8) & EvenBytes);
        }
        lanes = (lanes & EvenLanes) + ((lanes >> 16) & EvenLanes);
        sum += (lanes & 0xFFFFFFFF) + (lanes >> 32);
    }
    for (; count > 0; --count) sum += *bytes++;
    return sum;
}

// The same sum, 16 bytes at a time with SSE2 where the target has it.
inline std::uint64_t ByteSum(const std::uint8_t* bytes, std::size_t count) {
#if defined(__SSE2__)
    const __m128i zero = _mm_setzero_si128();
    __m128i sums = zero;  // two 64-bit lanes
    for (; count >= 16; count -= 16, bytes += 16) {
        const __m128i piece = _mm_loadu_si128(reinterpret_cast<const __m128i*>(bytes));
        sums = _mm_add_epi64(sums, _mm_sad_epu8(piece, zero));
    }
    std::uint64_t lanes[2];
    std::memcpy(lanes, &sums, sizeof lanes);
    return lanes[0] + lanes[1] + ByteSumPortable(bytes, count);
#else
    return ByteSumPortable(bytes, count);
#endif
}

}  // namespace sfx
