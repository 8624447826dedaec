// Status codes and the progress callback shared by every step of an extraction.
#pragma once

#include <cstdint>

namespace sfx {

// The outcome of a step. 5 is deliberately unused.
enum ExtractStatus : std::int32_t {
    Ok = 0,
    WriteFailed = 1,
    ReadFailed = 2,
    OutOfMemory = 3,
    WrongPassword = 4,
    DecompressFailed = 6,
    DataDamaged = 7,
};

// (amount done, total); (0, 0) marks the end of a pass.
using ProgressCallback = void (*)(std::int32_t done, std::int32_t total);

// The callback that does nothing.
void NoProgress(std::int32_t done, std::int32_t total);

// The text the dialog shows for a failed job; empty for codes without a message (0, 5, others).
const char* StatusMessage(std::int32_t status);

}  // namespace sfx
