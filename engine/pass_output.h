// Where a pass writes: a file it opened itself, or a stream its caller owns.
#pragma once

#include <cstdio>

namespace sfx {

struct PassOutput {
    std::FILE* stream = nullptr;
    bool owned = false;  // opened by the pass, which closes it; else the caller's

    // Closes an owned stream, flushes a borrowed one: true when every byte written so far
    // reached its file or stream.
    bool Finish();
    // Lets go after a failure: an owned stream is closed, unchecked.
    void Abandon();
};

}  // namespace sfx
