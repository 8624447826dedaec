// Decrypts a container's payload into a file while summing the bytes written.
#pragma once

#include <cstdio>

#include "engine/job.h"

namespace sfx {

struct DecryptionPass {
    // Writes the decrypted payload of the container in sourcePath to outputPath. True when
    // the sum of the bytes written equals the header's checksum; false with the job's
    // decryptStatus set otherwise. Both files are closed on every return.
    static bool Run(ExtractionJob& job, const char* sourcePath, const char* outputPath,
                    const char* password);

    // The same pass into a stream the caller owns: it is flushed, not closed. The bytes
    // reach the stream before the sum is checked.
    static bool RunInto(ExtractionJob& job, const char* sourcePath, std::FILE* output,
                        const char* password);

    // Builds the key for a password: returns its length (4, or 56..255), or 0 when the
    // password is empty and the container is protected. keyOut holds 256 bytes.
    static int DeriveKey(const char* password, bool passwordProtected, std::uint8_t* keyOut);
};

}  // namespace sfx
