// The tree's byte helpers: little- and big-endian 32-bit loads and stores, and the wipe for
// secrets.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sfx {

inline std::uint32_t LoadLE32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) | static_cast<std::uint32_t>(bytes[1]) << 8 |
           static_cast<std::uint32_t>(bytes[2]) << 16 | static_cast<std::uint32_t>(bytes[3]) << 24;
}

inline void StoreLE32(std::uint8_t* bytes, std::uint32_t value) {
    bytes[0] = static_cast<std::uint8_t>(value);
    bytes[1] = static_cast<std::uint8_t>(value >> 8);
    bytes[2] = static_cast<std::uint8_t>(value >> 16);
    bytes[3] = static_cast<std::uint8_t>(value >> 24);
}

inline std::uint32_t LoadBE32(const std::uint8_t* bytes) {
    return static_cast<std::uint32_t>(bytes[0]) << 24 | static_cast<std::uint32_t>(bytes[1]) << 16 |
           static_cast<std::uint32_t>(bytes[2]) << 8 | static_cast<std::uint32_t>(bytes[3]);
}

inline void StoreBE32(std::uint8_t* bytes, std::uint32_t value) {
    bytes[0] = static_cast<std::uint8_t>(value >> 24);
    bytes[1] = static_cast<std::uint8_t>(value >> 16);
    bytes[2] = static_cast<std::uint8_t>(value >> 8);
    bytes[3] = static_cast<std::uint8_t>(value);
}

// Zeroes a secret (password, derived key, key schedule) so that no optimiser drops the
// stores: they go through a volatile pointer, and the barrier tells the compiler the
// memory is read afterwards.
inline void Wipe(void* secret, std::size_t size) {
    volatile std::uint8_t* target = static_cast<volatile std::uint8_t*>(secret);
    for (std::size_t i = 0; i < size; ++i) target[i] = 0;
#if defined(__GNUC__) || defined(__clang__)
    __asm__ __volatile__("" : : "r"(secret) : "memory");
#endif
}

}  // namespace sfx
