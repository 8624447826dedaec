// Decoder of the variable-width (9 to 14 bit) LZW code stream.
//
// Codes are packed most significant bit first. 0..255 are literals, 256 clears the
// dictionary, 257 ends the stream, 258.. name dictionary entries in order of definition.
// The width grows one code early: when the next free code reaches 2^width - 1.
#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/status.h"

namespace sfx {

constexpr int LzwDictionarySize = 18041;
constexpr int LzwStackSize = 4000;
constexpr std::uint32_t LzwClearCode = 256;
constexpr std::uint32_t LzwEndCode = 257;
constexpr std::uint32_t LzwFirstFreeCode = 258;
constexpr std::uint32_t LzwLastCode = 16383;
constexpr int LzwMaxWidth = 14;

class LzwDecoder {
  public:
    // Hands over the dictionary arrays (LzwDictionarySize entries each) for the next runs.
    void SetDictionary(std::uint32_t* prefixCodes, std::uint8_t* suffixBytes);

    // Decodes the stream from `input` (positioned at the first code byte) into `output`.
    // True once the end code has been read; false with status() == DecompressFailed on
    // exhausted input, an invalid code, a string over 4000 bytes or a failed write.
    // Neither stream is closed; decoded bytes are flushed to `output` before returning.
    bool Decode(std::FILE* input, std::FILE* output, ProgressCallback progress);

    ExtractStatus status() const { return status_; }

  private:
    static constexpr std::uint32_t NoCode = 0xFFFFFFFFu;
    static constexpr int InputChunk = 64 * 1024;
    static constexpr int OutputChunk = 64 * 1024;

    // Takes the next code; NoCode (with the status set) when the input is exhausted.
    std::uint32_t ReadCode();
    // Expands `code` upwards from stack[place]; returns the place of its first byte, or -1
    // (with the status set) when the string does not fit the stack.
    int ExpandCode(std::uint32_t code, int place);
    int FetchByte();
    bool Put(const std::uint8_t* bytes, int count);
    bool FlushOutput();

    ExtractStatus status_ = Ok;
    std::int32_t inputLength_ = 0;
    std::int32_t bytesFetched_ = 0;
    int width_ = 9;
    std::uint32_t maxCode_ = 511;
    std::uint32_t bitBuffer_ = 0;
    int bitCount_ = 0;

    std::uint32_t* prefix_ = nullptr;
    std::uint8_t* suffix_ = nullptr;
    std::FILE* input_ = nullptr;
    std::FILE* output_ = nullptr;
    ProgressCallback progress_ = NoProgress;

    int inPos_ = 0;
    int inEnd_ = 0;
    int outPos_ = 0;
    std::uint8_t stack_[LzwStackSize];
    std::uint8_t inBuf_[InputChunk];
    std::uint8_t outBuf_[OutputChunk];
};

// The one decoder of the process.
LzwDecoder& TheLzwDecoder();

}  // namespace sfx
