// Turns the intermediate ".lzw" stream into the user's file.
#pragma once

#include <cstdio>

#include "engine/job.h"
#include "engine/pass_output.h"
#include "lzw/lzw_decoder.h"

namespace sfx {

// Decoding on several threads, as DecodeInSegments does: none (one thread) until a program
// that carries it calls UseSegmentDecoding. The extractor does without, to stay small.
using SegmentDecoding = bool (*)(LzwDecoder& decoder, LzwSource& input, std::FILE* output,
                                 ProgressCallback progress, int threads);
extern SegmentDecoding segmentDecoding;

struct DecompressionPass {
    // Checks the intermediate file's magic ("lzw" and NUL) and decodes the rest into
    // destinationPath, a new file (WriteFailed when anything stands there). False with the job's
    // status set to OutOfMemory, WriteFailed or DecompressFailed on failure; both files are closed
    // and the dictionary released on every return.
    static bool Run(ExtractionJob& job, const char* intermediatePath, const char* destinationPath);

    // The same pass from a stream that starts with the magic, into `output`, which is
    // finished (closed or flushed and checked) on every return.
    static bool RunFrom(ExtractionJob& job, LzwSource& input, PassOutput& output);
};

}  // namespace sfx
