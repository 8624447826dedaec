// Decoder of the variable-width (9 to 14 bit) LZW code stream.
//
// Codes are packed most significant bit first. 0..255 are literals, 256 clears the
// dictionary, 257 ends the stream, 258.. name dictionary entries in order of definition.
// The width grows one code early: when the next free code reaches 2^width - 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "engine/status.h"
#include "platform/bytes.h"

namespace sfx {

constexpr int LzwDictionarySize = 18041;
constexpr int LzwStackSize = 4000;
constexpr std::uint32_t LzwClearCode = 256;
constexpr std::uint32_t LzwEndCode = 257;
constexpr std::uint32_t LzwFirstFreeCode = 258;
constexpr std::uint32_t LzwLastCode = 16383;
constexpr int LzwMaxWidth = 14;

// The code of `width` bits that starts `bit` bits (0 to 7) into `bytes`, most significant bit
// first. Reads 4 bytes.
inline std::uint32_t LzwCodeAt(const std::uint8_t* bytes, std::uint32_t bit, int width) {
    return (LoadBE32(bytes) << bit) >> (32 - width);
}

// Every string copy may write this many bytes past its end.
constexpr int LzwCopyOverrun = 16;

// Copies a string that lies entirely before its destination, in 16-byte pieces that may
// run past its end. No piece reads a byte of the string that an earlier piece wrote.
inline void LzwCopyString(std::uint8_t* to, const std::uint8_t* from, int length) {
    for (int i = 0; i < length; i += 16) std::memmove(to + i, from + i, 16);
}

// Where a code stream comes from: an open file, or a function that hands out its next bytes.
struct LzwSource {
    std::FILE* file = nullptr;
    // Copies up to `capacity` bytes into `into`; 0 at the end of the stream.
    std::size_t (*read)(void* context, std::uint8_t* into, std::size_t capacity) = nullptr;
    void* context = nullptr;
    std::int64_t length = 0;  // the length of what the progress calls count against

    std::size_t Read(std::uint8_t* into, std::size_t capacity) {
        return file != nullptr ? std::fread(into, 1, capacity, file)
                               : read(context, into, capacity);
    }
};

// Where a decoding takes over a stream that another reader has followed up to a clear code:
// the next code's bit position and the state of the reader and of the output buffer, as the
// decoder itself would have them there. The default starts at the stream's first bit.
struct LzwResume {
    std::uint64_t bitPos = 0;
    std::int32_t fetched = 0;   // fetches of the byte-by-byte reader so far
    std::uint64_t inputAt = 0;  // stream offset of the next byte the source gives: bitPos / 8
    std::uint64_t outBase = 0;  // stream offset of the output buffer's first byte
    int outPos = 0;             // bytes in the output buffer
    int outFlushed = 0;         // of which written already; the rest follow in `pending`
    const std::uint8_t* pending = nullptr;
};

class LzwDecoder {
  public:
    // Hands over the dictionary arrays (LzwDictionarySize entries each) for the next runs.
    void SetDictionary(std::uint32_t* prefixCodes, std::uint8_t* suffixBytes);

    // Decodes the stream from `input` (positioned at the first code byte) into `output`.
    // True once the end code has been read; false with status() == DecompressFailed on
    // exhausted input, an invalid code, a string over 4000 bytes or a failed write.
    // Neither stream is closed; decoded bytes are flushed to `output` before returning.
    bool Decode(std::FILE* input, std::FILE* output, ProgressCallback progress);
    // The same from any source; progress counts against input.length.
    bool Decode(LzwSource& input, std::FILE* output, ProgressCallback progress);
    // The same from where `resume` says, right after a clear code (or at the start).
    bool Decode(LzwSource& input, std::FILE* output, ProgressCallback progress,
                const LzwResume& resume);

    ExtractStatus status() const { return status_; }
    // Sets the status of a run made on this decoder's behalf on several threads.
    void Settle(bool decoded) { status_ = decoded ? Ok : DecompressFailed; }
    // Bytes the last run wrote to its output, up to its end or its failure.
    std::uint64_t written() const { return outBase_ + static_cast<std::uint64_t>(outFlushed_); }

    // Sizes of the working buffers, for tests that cross their boundaries.
    static constexpr int InputChunk = 64 * 1024;
    static constexpr int OutputCapacity = 256 * 1024;
    static constexpr int OutputHistory = 64 * 1024;

  private:
    static constexpr std::uint32_t NoCode = 0xFFFFFFFFu;

    // Where the decoder stands in both streams: the hot state of Decode's loop, which its
    // fast path and the slow paths share by reference. Input positions count from inBuf_[0]
    // in 32 bits, which the 32-bit programs hold in single registers; the stream offset of
    // inBuf_[0] is inStart_. The byte fetches of a reader that fills a 32-bit buffer byte by
    // byte while it holds 24 bits or less follow from the bit position: before the code at
    // bit b of the stream, it has fetched (b + 32) / 8 bytes, and a progress call reports
    // each 1024th of them. The functions that take it are inline, so that it stays in
    // registers while the loop runs.
    struct Cursor {
        std::uint32_t bitPos = 0;    // position of the next code in inBuf_, in bits
        std::uint32_t fastEnd = 0;   // fetches ending below this byte of inBuf_ need neither
                                     // new input nor a progress call
        std::int32_t milestone = 0;  // the last 1024th of the fetches that was reached
        int width = 9;               // bits of the next code
        int outPos = 0;              // where the next decoded byte goes in outBuf_
    };

    // Reads the next code, fetching new input and reporting progress as needed; NoCode
    // (with the status set) when the input is exhausted. Decode's fast path takes the codes
    // that need neither itself.
    std::uint32_t ReadCode(Cursor& cursor);
    // Takes the code at the cursor, whose bytes are at hand.
    std::uint32_t TakeCode(Cursor& cursor) const;
    // Drops the input before inBuf_[keepFrom] and reads more so that the input up to what
    // was inBuf_[need] is at hand, if the stream is that long.
    void Refill(std::uint32_t keepFrom, std::uint32_t need);
    // Writes the `length` bytes of `code`'s string to out[0..length-1] by following the
    // prefix codes, last byte first.
    void ExpandCode(std::uint32_t code, int length, std::uint8_t* out) const;
    // Makes room for the longest string in the output buffer, keeping OutputHistory bytes.
    bool MakeRoom(Cursor& cursor);
    // Writes the decoded bytes below outBuf_[end] that have not been written yet.
    bool FlushOutput(int end);

    ExtractStatus status_ = Ok;
    std::int32_t inputLength_ = 0;

    std::uint32_t* prefix_ = nullptr;
    std::uint8_t* suffix_ = nullptr;
    LzwSource* input_ = nullptr;
    std::FILE* output_ = nullptr;
    ProgressCallback progress_ = NoProgress;

    // The input at hand: the stream bytes from inStart_ on.
    std::uint64_t inStart_ = 0;  // stream offset of inBuf_[0]
    int inEnd_ = 0;              // bytes held in inBuf_
    bool inputExhausted_ = false;
    std::uint8_t inBuf_[InputChunk + 8];

    // Decoded bytes. outBase_ is the stream offset of outBuf_[0]; bytes below outFlushed_
    // have been written to the output stream. After a flush, the last OutputHistory bytes
    // stay in front so that recent strings can be copied from where they were decoded.
    std::uint64_t outBase_ = 0;
    int outFlushed_ = 0;
    std::uint8_t outBuf_[OutputCapacity + LzwCopyOverrun];

    // For every entry, where its string last appeared in the output (stream offset, the
    // upper 48 bits) and its length (the lower 16 bits).
    std::uint64_t seen_[LzwDictionarySize];
};

// The one decoder of the process.
LzwDecoder& TheLzwDecoder();

}  // namespace sfx
