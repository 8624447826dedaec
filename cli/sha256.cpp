#include "cli/sha256.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/bytes.h"
#include "platform/files.h"

namespace sfx::cli {
namespace {

constexpr std::uint32_t RoundConstants[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

constexpr std::size_t FileChunkSize = 64 * 1024;

std::uint32_t Rotr(std::uint32_t value, int count) {
    return value >> count | value << (32 - count);
}

// One 64-byte block into the state.
void Compress(std::uint32_t state[8], const std::uint8_t* block) {
    std::uint32_t w[64];
    for (int t = 0; t < 16; ++t) w[t] = LoadBE32(block + 4 * t);
    for (int t = 16; t < 64; ++t) {
        const std::uint32_t s0 = Rotr(w[t - 15], 7) ^ Rotr(w[t - 15], 18) ^ w[t - 15] >> 3;
        const std::uint32_t s1 = Rotr(w[t - 2], 17) ^ Rotr(w[t - 2], 19) ^ w[t - 2] >> 10;
        w[t] = w[t - 16] + s0 + w[t - 7] + s1;
    }
    std::uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    std::uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int t = 0; t < 64; ++t) {
        const std::uint32_t t1 = h + (Rotr(e, 6) ^ Rotr(e, 11) ^ Rotr(e, 25)) +
                                 ((e & f) ^ (~e & g)) + RoundConstants[t] + w[t];
        const std::uint32_t t2 =
            (Rotr(a, 2) ^ Rotr(a, 13) ^ Rotr(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

}  // namespace

void AddToSha256(Sha256& hash, const void* bytes, std::size_t size) {
    const auto* in = static_cast<const std::uint8_t*>(bytes);
    hash.length += size;
    // Align: top up a partly filled block first.
    if (hash.filled > 0) {
        const std::size_t take = std::min(size, sizeof hash.block - hash.filled);
        std::memcpy(hash.block + hash.filled, in, take);
        hash.filled += take;
        in += take;
        size -= take;
        if (hash.filled < sizeof hash.block)
            return;
        Compress(hash.state, hash.block);
        hash.filled = 0;
    }
    // Bulk: whole blocks straight from the input.
    for (; size >= sizeof hash.block; in += sizeof hash.block, size -= sizeof hash.block)
        Compress(hash.state, in);
    // Tail: kept for the next call.
    std::memcpy(hash.block, in, size);
    hash.filled = size;
}

Sha256Digest FinishSha256(Sha256& hash) {
    const std::uint64_t bits = hash.length * 8;
    hash.block[hash.filled++] = 0x80;
    if (hash.filled > 56) {
        std::memset(hash.block + hash.filled, 0, sizeof hash.block - hash.filled);
        Compress(hash.state, hash.block);
        hash.filled = 0;
    }
    std::memset(hash.block + hash.filled, 0, 56 - hash.filled);
    StoreBE32(hash.block + 56, static_cast<std::uint32_t>(bits >> 32));
    StoreBE32(hash.block + 60, static_cast<std::uint32_t>(bits));
    Compress(hash.state, hash.block);
    Sha256Digest digest;
    for (int i = 0; i < 8; ++i) StoreBE32(digest.data() + 4 * i, hash.state[i]);
    return digest;
}

std::string HexOf(const Sha256Digest& digest) {
    static const char Digits[] = "0123456789abcdef";
    std::string hex;
    for (std::uint8_t byte : digest) {
        hex += Digits[byte >> 4];
        hex += Digits[byte & 0x0f];
    }
    return hex;
}

bool Sha256OfFileStart(const char* path, std::int64_t length, Sha256Digest& digest) {
    std::FILE* file = platform::OpenFile(path, "rb");
    if (file == nullptr)
        return false;
    std::vector<std::uint8_t> chunk(FileChunkSize);
    Sha256 hash;
    std::int64_t left = length;
    while (left > 0) {
        const std::size_t want = left < static_cast<std::int64_t>(chunk.size())
                                     ? static_cast<std::size_t>(left)
                                     : chunk.size();
        const std::size_t got = std::fread(chunk.data(), 1, want, file);
        if (got != want)
            break;
        AddToSha256(hash, chunk.data(), got);
        left -= static_cast<std::int64_t>(got);
    }
    std::fclose(file);
    if (left != 0)
        return false;
    digest = FinishSha256(hash);
    return true;
}

}  // namespace sfx::cli
