// Encoder of the variable-width (9 to 14 bit) LZW code stream that the extractor decodes.
//
// Codes are packed most significant bit first. 0..255 are literals, 256 clears the
// dictionary, 257 ends the stream, 258..16383 name dictionary entries. The width of a code
// depends only on its position since the start or the last clear (LzwCodeWidth). The first
// code after the start or a clear is a literal; every later data code defines one entry on
// the decoder's side. No code stands for more than 4000 bytes. The stream ends with the end
// code, zero bits up to the byte boundary and two zero bytes that the decoder's look-ahead
// reads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sfx {

// The four bytes in front of the code stream in the intermediate file: "lzw" and NUL.
inline constexpr std::uint8_t LzwIntermediateMagic[4] = {0x6C, 0x7A, 0x77, 0x00};
// The longest string a single code may stand for.
inline constexpr std::size_t LzwMaxStringLength = 4000;

// Width in bits of the code at `position` (counted from 1) since the start or the last
// clear; clear and end codes take the width of the position they stand at.
int LzwCodeWidth(std::uint64_t position);

struct LzwEncoderOptions {
    // True: a clear code follows as soon as the dictionary is full (entry 16383 defined).
    // False: the dictionary stays full and codes stay 14 bits wide until the end.
    bool clearWhenFull = true;
    // 0: no forced clears. Otherwise a clear follows every clearEvery data codes.
    int clearEvery = 0;
};

// Packs codes most significant bit first.
struct LzwBitWriter {
    std::vector<std::uint8_t> bytes;  // completed bytes
    std::uint32_t pending = 0;        // bits not yet in `bytes`, right-aligned
    int pendingBits = 0;              // 0..7

    // Appends the low `width` bits (1..24) of `code`.
    void Write(std::uint32_t code, int width);
    // Fills the last started byte with zero bits.
    void Flush();
    // Flush, then the two zero look-ahead bytes that must follow the end code.
    void Finish();
    // Number of bits written so far.
    std::uint64_t BitCount() const { return bytes.size() * 8u + pendingBits; }
};

// Incremental encoder: Feed the input in pieces, then Finish. The code stream grows in
// Output(), which the caller may drain (take and clear) between calls.
class LzwEncoder {
  public:
    explicit LzwEncoder(const LzwEncoderOptions& options = {});

    void Feed(const std::uint8_t* data, std::size_t size);
    // Writes the pending code, the end code and the padding. Further calls do nothing.
    void Finish();

    std::vector<std::uint8_t>& Output() { return writer_.bytes; }

  private:
    static constexpr std::uint32_t NoCode = 0xFFFFFFFFu;
    static constexpr std::uint32_t TableSize = 1u << 15;  // twice the entries, power of two

    void Put(std::uint32_t code);
    // Writes `code`, then defines entry (code, next) or clears, as the options say.
    void PutData(std::uint32_t code, std::uint8_t next);
    void Reset();
    // The slot holding (prefix, byte) or the empty slot where it belongs.
    std::uint32_t Slot(std::uint32_t key) const;

    LzwEncoderOptions options_;
    LzwBitWriter writer_;
    std::vector<std::uint32_t> keys_;   // (prefix << 8 | byte) + 1; 0 marks an empty slot
    std::vector<std::uint16_t> codes_;  // the entry stored in the slot
    std::uint32_t nextFree_ = 0;
    std::uint64_t position_ = 0;      // position of the last code written since start or clear
    std::uint64_t dataCodes_ = 0;     // data codes written since start or clear
    std::uint32_t current_ = NoCode;  // code of the string matched so far
    std::size_t length_ = 0;          // its length in bytes
    bool finished_ = false;
};

// The bare code stream for `data`.
std::vector<std::uint8_t> LzwEncode(const std::uint8_t* data, std::size_t size,
                                    const LzwEncoderOptions& options = {});

// The intermediate file's contents: the magic followed by the code stream.
std::vector<std::uint8_t> LzwEncodeIntermediate(const std::uint8_t* data, std::size_t size,
                                                const LzwEncoderOptions& options = {});

}  // namespace sfx
