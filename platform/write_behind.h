// Writes a stream's chunks one at a time on the worker thread, so that the next chunk can
// be worked on meanwhile; without a worker, every chunk is written at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/worker.h"

namespace sfx::platform {

struct WriteBehind {
    std::FILE* out = nullptr;
    Worker* worker = nullptr;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t stored = 0;  // how many of the queued bytes the last write took
    bool pending = false;
    bool written = true;  // false from the first write that failed on
    int error = 0;        // the errno of that write, met on the thread that wrote

    // Starts writing to `stream`, concurrently when asked and a worker can be had.
    void Begin(std::FILE* stream, bool concurrently);
    // Queues `count` bytes, which stay untouched until Finish. After a failed write nothing
    // more is written, so the stream never holds bytes that came after a gap.
    void Start(const std::uint8_t* bytes, std::size_t count);
    // Waits for the queued bytes; false when any write so far has failed.
    bool Finish();
    // Finishes and lets the worker go; the stream stays open.
    void End();
    ~WriteBehind() { End(); }
};

}  // namespace sfx::platform
