// Decryption of many stored blocks at once in vector registers, where the processor has them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace sfx {

// The cipher state the vector path reads: the P-array and the four S-boxes.
struct BlowfishTables {
    const std::uint32_t* p;
    const std::uint32_t* s[4];
};

// The ways of decrypting blocks in bulk, narrowest first.
enum class BlockPath { Scalar, Avx512 };

// Holds the bulk path to `widest` or narrower (benchmarks and tests compare the paths);
// returns the path now in use: the widest this processor has up to that one.
BlockPath LimitBlockPath(BlockPath widest);

// Decrypts as many leading blocks of `data` (two little-endian halves each, left first) as
// fill whole vectors of the path in use; returns how many, 0 on the scalar path.
std::size_t DecryptWideBlocksLE(const BlowfishTables& tables, std::uint8_t* data,
                                std::size_t blockCount);

}  // namespace sfx
