// Decoding of one code stream on several threads.
//
// A clear code starts the dictionary anew, so the codes from one clear to the next are a
// segment that decodes on its own; and since a code's width depends only on its place since
// the last clear, one quick pass over the codes finds every clear without the dictionary.
// The segments are decoded on helper threads and on the calling thread, and written in order.
//
// Whatever the number of threads, the outcome is the serial decoder's: the same bytes in the
// same writes, the same progress calls between them, the same status at the same code.
#pragma once

#include <cstdio>

#include "lzw/lzw_decoder.h"

namespace sfx {

// Threads that decode one stream together, at most.
constexpr int LzwSegmentThreads = 8;

// Decodes `input` into `output` as decoder.Decode does, on up to `threads` threads (the
// calling thread included). `decoder`, whose dictionary is set, takes over where a segment is
// too long to hold in memory, and does the whole run when the memory for the segments cannot
// be had. False with decoder.status() == DecompressFailed on failure.
bool DecodeInSegments(LzwDecoder& decoder, LzwSource& input, std::FILE* output,
                      ProgressCallback progress, int threads);

// From now on the decompression pass decodes in segments on the threads it may use.
void UseSegmentDecoding();

}  // namespace sfx
