// Decrypts a container's payload while summing the bytes it yields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "engine/job.h"
#include "engine/pass_output.h"
#include "platform/worker.h"

namespace sfx {

// The decrypted payload of one container, yielded piece by piece to whoever takes it (a
// file, a stream or the decoder). Every byte yielded is summed; Finish checks the sum.
// The job's decryptStatus is set on every failure, its decryptProgress told of every
// progress point the consumer announces.
struct DecryptedPayload {
    static constexpr std::int32_t ProgressStep = 5000;
    // A whole number of progress steps, so that every piece of blocks ends on one.
    static constexpr std::int32_t ChunkSize = 52 * ProgressStep;
    // The pieces of a payload written out as it is are four times as large: its threads then
    // meet a quarter as often, and each meeting may cost a system call or two (many more where
    // a compatibility layer serves them). A decoder takes the smaller pieces, so that its
    // threads get their input sooner.
    static constexpr std::int32_t WriteChunkSize = 4 * ChunkSize;
    // Threads that decrypt one piece together, at most.
    static constexpr int MaxThreads = 8;

    ExtractionJob* job = nullptr;
    std::FILE* source = nullptr;
    std::int64_t total = 0;       // payload length
    std::int64_t blocksEnd = 0;   // where the whole blocks end and the clear tail starts
    std::int64_t position = 0;    // bytes yielded so far
    std::int64_t announced = -1;  // the last progress point announced
    std::uint64_t sum = 0;
    std::uint64_t checksum = 0;
    bool readFailed = false;  // the source ended before the payload did
    // Helpers that decrypt their share of every piece beside the thread that reads it; none
    // for a payload of one piece or on a machine of one processor.
    platform::Worker* helpers[MaxThreads - 1] = {};
    int helperCount = 0;

    // The length of a piece: ChunkSize, or WriteChunkSize for the pass that writes a file.
    std::int32_t pieceSize = ChunkSize;
    // Read's pieces: the one handed out, and the next, which `reader` reads and decrypts
    // meanwhile into the other buffer.
    std::int32_t pieceAt = 0;
    std::int32_t pieceLength = 0;
    int pieceBuffer = 0;
    platform::Worker* reader = nullptr;
    bool aheadPending = false;
    std::int32_t aheadLength = 0;
    std::int64_t aheadEnd = 0;  // position after the piece read ahead

    DecryptedPayload() = default;
    DecryptedPayload(const DecryptedPayload&) = delete;
    DecryptedPayload& operator=(const DecryptedPayload&) = delete;
    ~DecryptedPayload() { Close(); }

    // Opens the container, keys the cipher and announces the first progress point.
    bool Open(ExtractionJob& owner, const char* sourcePath, const char* password);
    // Reads and decrypts the next piece into `buffer` (pieceSize bytes): whole blocks while
    // there are any, then the tail as it is stored. Returns its length; 0 at the end of the
    // payload, and after the whole blocks before a read that came short (readFailed).
    std::int32_t Next(std::uint8_t* buffer);
    // Announces the progress points of the whole blocks before `reached`: they are in place.
    void Announce(std::int64_t reached);
    // Up to `capacity` bytes of the payload into `into`, each piece announced as it is
    // handed out, the next one read and decrypted meanwhile; 0 at the end or after a short
    // read.
    std::size_t Read(std::uint8_t* into, std::size_t capacity);
    // Decrypts `blocks` blocks in place, shared among the helpers; returns their byte sum.
    std::uint64_t DecryptAndSum(std::uint8_t* data, std::size_t blocks);
    // Takes the rest of the payload, closes the source, then `output`; makes the closing
    // progress call and compares the sum. False with decryptStatus set otherwise.
    bool Finish(PassOutput& output);
    // Fails with `code`: both streams are let go, no further progress call is made.
    bool Fail(ExtractStatus code, PassOutput& output);
    // Lets the helpers and the source go and wipes the cipher's key schedule; called on
    // every return of a pass.
    void Close();
};

struct DecryptionPass {
    // Writes the decrypted payload of the container in sourcePath to outputPath, a new file
    // (WriteFailed when anything stands there). True when
    // the sum of the bytes written equals the header's checksum; false with the job's
    // decryptStatus set otherwise. Both files are closed on every return.
    static bool Run(ExtractionJob& job, const char* sourcePath, const char* outputPath,
                    const char* password);

    // The same pass into a stream the caller owns: it is flushed, not closed. The bytes
    // reach the stream before the sum is checked.
    static bool RunInto(ExtractionJob& job, const char* sourcePath, std::FILE* output,
                        const char* password);
};

}  // namespace sfx
