// The record every extraction runs on.
#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/status.h"

namespace sfx {

struct ExtractionJob {
    ExtractStatus decryptStatus = Ok;  // the decryption pass's own report
    ProgressCallback decryptProgress = NoProgress;
    ProgressCallback lzwProgress = NoProgress;
    ExtractStatus status = Ok;  // the overall status callers read

    void SetDecryptProgress(ProgressCallback callback) { decryptProgress = callback; }
    void SetLzwProgress(ProgressCallback callback) { lzwProgress = callback; }

    // Extracts the file in the container appended to sourcePath to destinationPath.
    // The destination is replaced only once the file has been fully verified; on failure it
    // is left exactly as it was. Returns false with `status` set on failure.
    bool Extract(const char* sourcePath, const char* destinationPath, const char* password);

    // Runs the whole extraction but keeps no file: decrypts, checks the sum and, when the
    // payload is compressed, decodes it. A temporary file needed on the way is removed on
    // every return. Returns false with `status` set on failure.
    bool Test(const char* sourcePath, const char* password);

    // Extracts into a stream the caller owns (flushed, not closed). The bytes reach `out`
    // before the sum is checked, so a false result may follow output that must be thrown
    // away. A compressed payload is decrypted into a temporary file first, which is removed
    // on every return. Returns false with `status` set on failure.
    bool ExtractToStream(const char* sourcePath, std::FILE* out, const char* password);

    // Copies the password hint (at most 255 characters, always terminated) into riddleOut
    // (256 bytes) and, when protectedOut is given, the passwordProtected byte. On failure
    // both outputs stay untouched; a failed magic test also sets `status` to DataDamaged.
    bool ReadRiddle(const char* sourcePath, char* riddleOut, std::uint8_t* protectedOut);
};

// The longest path the engine accepts for a destination (and for any text path).
constexpr int MaxPathLength = 255;

}  // namespace sfx
