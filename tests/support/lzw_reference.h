// Hand-made code streams, and a plain decoder that reads them exactly as the stream format
// describes: the real decoder must agree with it on every input, damaged ones included
// (same bytes out, same result, same progress calls), and the encoder's streams must read
// back through it.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace sfx::test {

// Width of the code at position k (from 1) since the start or the last clear.
inline int WidthAtPosition(long k) {
    if (k <= 254)
        return 9;
    if (k <= 766)
        return 10;
    if (k <= 1790)
        return 11;
    if (k <= 3838)
        return 12;
    if (k <= 7934)
        return 13;
    return 14;
}

// Writes codes most significant bit first, tracking positions for the widths.
class CodeStream {
  public:
    // A code at the next position with the width the position gives.
    CodeStream& Code(std::uint32_t code) { return Raw(code, WidthAtPosition(++position_)); }
    CodeStream& Clear() {
        Code(256);
        position_ = 0;
        return *this;
    }
    CodeStream& Raw(std::uint32_t code, int width);
    // Zero-fills the last byte and adds `extra` bytes of look-ahead.
    Bytes Finish(int extra = 2);
    long position() const { return position_; }

  private:
    Bytes bytes_;
    std::uint8_t current_ = 0;
    int bits_ = 0;
    long position_ = 0;
};

struct ReferenceResult {
    bool ok = false;
    std::string failure;  // why the run ended short; empty on success
    Bytes output;         // the bytes of every code decoded before the end or the failure
    Progress progress;    // a call every 1024th byte fetched, (0, 0) on success
    std::vector<std::uint32_t> codes;           // every code read, clear and end included
    std::vector<std::uint64_t> clearPositions;  // position of each clear since start or clear
    std::size_t longest = 0;                    // longest string of one code
    int endWidth = 0;                           // width of the end code
    std::uint64_t bitsAfterEnd = 0;             // bits of the stream after the end code
    bool zeroAfterEnd = true;                   // all of them zero
};

// Reads the stream from memory one byte at a time into a 32-bit buffer, at least 25 bits
// ahead of every code, and expands every string onto a 4000-byte stack: invalid codes and
// longer strings end the run.
ReferenceResult ReferenceDecode(const Bytes& stream);

}  // namespace sfx::test
