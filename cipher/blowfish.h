// The Blowfish block cipher on one process-wide state.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sfx {

struct BlowfishCipher {
    // Replaces the whole state by the one of this key (1 to 32767 bytes, used cyclically
    // over 72 bytes).
    static void SetKey(const std::uint8_t* key, std::int16_t length);
    // Wipes the whole state, so that nothing of the key stays in memory.
    static void Clear();
    static void EncryptBlock(std::uint32_t& left, std::uint32_t& right);
    static void DecryptBlock(std::uint32_t& left, std::uint32_t& right);

    // Decrypts blockCount 8-byte blocks in place; each block is two little-endian 32-bit
    // halves, left first. Same result as DecryptBlock on every block.
    static void DecryptBlocksLE(std::uint8_t* data, std::size_t blockCount);
};

}  // namespace sfx
