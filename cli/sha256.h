// SHA-256 (FIPS 180-4), for the digest of a file's stub that `unsfx info` shows: fed in
// pieces of any size, so a file of any length is hashed in fixed-size chunks.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sfx::cli {

using Sha256Digest = std::array<std::uint8_t, 32>;

struct Sha256 {
    std::uint32_t state[8] = {0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
                              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19};
    std::uint64_t length = 0;  // bytes taken so far
    std::uint8_t block[64] = {};
    std::size_t filled = 0;  // bytes of `block` taken, always < 64 between calls
};

// Takes `size` more bytes of the message.
void AddToSha256(Sha256& hash, const void* bytes, std::size_t size);

// Pads the message and gives its digest; `hash` is spent afterwards.
Sha256Digest FinishSha256(Sha256& hash);

// The digest as 64 lower-case hexadecimal digits.
std::string HexOf(const Sha256Digest& digest);

// The digest of the first `length` bytes of the file at `path`, read in chunks of 64 KiB.
// False when the file can't be opened or ends before `length` bytes.
bool Sha256OfFileStart(const char* path, std::int64_t length, Sha256Digest& digest);

}  // namespace sfx::cli
