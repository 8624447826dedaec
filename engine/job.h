// The record every extraction runs on.
#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/status.h"
#include "platform/own_file.h"

namespace sfx {

struct ExtractionJob {
    ExtractStatus decryptStatus = Ok;  // the decryption pass's own report
    ProgressCallback decryptProgress = NoProgress;
    ProgressCallback lzwProgress = NoProgress;
    ExtractStatus status = Ok;  // the overall status callers read
    // Whether Extract may replace a file that stands at the destination, as the dialog's
    // "wb" open would; without it nothing there is ever replaced.
    bool replaceExisting = true;
    // Set by Extract when the destination was taken and might not be replaced.
    bool destinationTaken = false;
    // Where Extract kept the verified intermediate stream when decoding it failed; "" else.
    char keptPath[platform::PathCapacity] = {};
    // The reason (an errno value) of the write that failed, met on whichever thread wrote;
    // 0 when no write failed or the system gave none.
    int writeError = 0;
    // Set by Extract when writing into the destination in place failed after its first
    // byte: the destination no longer holds the old file.
    bool destinationDamaged = false;

    void SetDecryptProgress(ProgressCallback callback) { decryptProgress = callback; }
    void SetLzwProgress(ProgressCallback callback) { lzwProgress = callback; }

    // Extracts the file in the container appended to sourcePath to destinationPath.
    // Every file it writes is its own (new, owner-only, never through a link) until the
    // verified file is put at the destination; on failure the destination is left exactly
    // as it was. The file put in place, or the stream kept after a failed decoding, takes
    // the source's download mark (on Windows). Returns false with `status` set on failure.
    bool Extract(const char* sourcePath, const char* destinationPath, const char* password);

    // Runs the whole extraction but keeps no file: decrypts, checks the sum and, when the
    // payload is compressed, decodes it. Returns false with `status` set on failure.
    bool Test(const char* sourcePath, const char* password);

    // Extracts into a stream the caller owns (flushed, not closed). The bytes reach `out`
    // before the sum is checked, so a false result may follow output that must be thrown
    // away. A compressed payload goes from the cipher straight into the decoder, in memory;
    // a wrong sum is WrongPassword even when decoding failed first. Returns false with
    // `status` set on failure.
    bool ExtractToStream(const char* sourcePath, std::FILE* out, const char* password);

    // Copies the password hint (at most 255 characters, always terminated) into riddleOut
    // (256 bytes) and, when protectedOut is given, the passwordProtected byte. On failure
    // both outputs stay untouched; a failed magic test also sets `status` to DataDamaged.
    bool ReadRiddle(const char* sourcePath, char* riddleOut, std::uint8_t* protectedOut);
};

// The longest path the engine accepts for a destination, in characters as the platform
// counts them: the Windows program's fields hold 255; elsewhere paths go up to the system's
// limit.
#ifdef _WIN32
constexpr int MaxPathLength = 255;
#else
constexpr int MaxPathLength = static_cast<int>(platform::PathCapacity) - 1;
#endif

}  // namespace sfx
