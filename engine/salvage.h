// What a damaged or cut container still holds. Kept apart from the extraction's own path:
// this reader goes past what an intact container promises. Every block of the payload is
// decrypted on its own (the cipher chains nothing); a compressed payload is decoded as far
// as its stream stays sound.
//
// A wrong password is told apart from damage where the data allows it:
//   - compressed: the first block must decrypt to the stream's magic "lzw" NUL;
//   - stored, its end known: one damaged 8-byte block moves the byte sum by at most
//     8 x 255 = 2,040. Salvage allows damage in one block of every 64, and in 16 blocks
//     at least (SalvageSumBound); a sum off by more is a wrong password. Content whose bytes
//     are spread evenly (already compressed files) may still pass for damage;
//   - stored, cut short: it can't be told apart.
#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/container.h"
#include "engine/status.h"

namespace sfx {

enum class SalvageFound {
    Trailer,        // the trailer is whole
    TrailerInPart,  // found by the magic; the container length survived the cut
    Magic,          // found by the magic; where the payload ended is lost
};

// Where the container stands in a file that may have lost its trailer.
struct SalvageSource {
    SalvageFound found = SalvageFound::Trailer;
    ContainerHeader header;
    std::int64_t fileSize = 0;
    std::int64_t containerOffset = 0;
    std::int64_t payloadSize = 0;  // payload bytes in the file
    bool endKnown = true;          // the payload ends there: its clear tail and sum are known
};

// Blocks of damage a stored payload's sum is allowed to show before it is taken for a wrong
// password, and the sum difference they can explain.
constexpr std::int64_t SalvageBlocksPerDamage = 64;
constexpr std::int64_t SalvageDamagedBlocksAtLeast = 16;
constexpr std::uint64_t SalvageSumPerBlock = 8 * 255;
std::uint64_t SalvageSumBound(std::int64_t blocks, std::int64_t tailBytes);

// Finds the container by its trailer, else by the last "ZARN" NUL (scanning from the end in
// pieces) whose header makes sense: both flags 0 or 1, a NUL in the riddle, at least one
// payload byte behind it. ReadFailed when the file can't be opened, DataDamaged when nothing
// is found.
bool LocateForSalvage(const char* path, SalvageSource& source, ExtractStatus& failure);

struct SalvageReport {
    SalvageSource source;
    // Ok: intact and verified; DataDamaged: what came back was written, it is damaged or
    // unverified; WrongPassword: nothing was written; ReadFailed, WriteFailed, OutOfMemory.
    ExtractStatus status = Ok;
    std::int64_t blocks = 0;        // whole blocks decrypted
    std::int64_t droppedBytes = 0;  // bytes of a cut block, which can't be decrypted
    std::int64_t written = 0;       // bytes written to the output
    bool sumChecked = false;        // the payload's end is known, so is its sum
    std::uint64_t sumOff = 0;       // how far the sum is from the header's checksum
    std::uint64_t sumBound = 0;     // stored: the most that damage could explain
    bool endCodeReached = false;    // compressed: the stream was read to its end code
    bool dataRanOut = false;        // compressed: the data ended before the end code
    // Compressed: spans lost to damage, each from an offset in the output up to the next
    // clear code, where decoding starts afresh; the first LossesKept offsets are kept.
    static constexpr int LossesKept = 8;
    std::int64_t spansLost = 0;
    std::int64_t lostAt[LossesKept] = {};
    bool stoppedShort = false;  // the file could not be read to the payload's end
};

// Salvages the container in `path` into `out` (flushed, not closed). Returns true when
// something was salvaged (status Ok or DataDamaged), false with report.status otherwise.
// Memory stays constant: the payload goes through in pieces.
bool Salvage(const char* path, const char* password, std::FILE* out, SalvageReport& report);

}  // namespace sfx
