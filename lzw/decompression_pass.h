// Turns the intermediate ".lzw" file into the destination file.
#pragma once

#include <cstdio>

#include "engine/job.h"

namespace sfx {

struct DecompressionPass {
    // Checks the intermediate file's magic ("lzw" and NUL) and decodes the rest into
    // destinationPath. False with the job's status set to OutOfMemory, WriteFailed or
    // DecompressFailed on failure; both files are closed and the dictionary released on
    // every return.
    static bool Run(ExtractionJob& job, const char* intermediatePath, const char* destinationPath);

    // The same pass into a stream the caller owns: flushed, not closed. A stream that can't
    // take the decoded bytes fails with WriteFailed.
    static bool RunInto(ExtractionJob& job, const char* intermediatePath, std::FILE* output);
};

}  // namespace sfx
