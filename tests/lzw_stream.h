// Hand-made code streams for the decoder tests.
#pragma once

#include <cstdint>
#include <vector>

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
    CodeStream& Raw(std::uint32_t code, int width) {
        for (int bit = width - 1; bit >= 0; --bit) {
            current_ = static_cast<std::uint8_t>(current_ << 1 | ((code >> bit) & 1));
            if (++bits_ == 8) {
                bytes_.push_back(current_);
                bits_ = 0;
                current_ = 0;
            }
        }
        return *this;
    }
    // Zero-fills the last byte and adds `extra` bytes of look-ahead.
    std::vector<std::uint8_t> Finish(int extra = 2) {
        if (bits_ > 0)
            Raw(0, 8 - bits_);
        for (int i = 0; i < extra; ++i) bytes_.push_back(0);
        return bytes_;
    }
    long position() const { return position_; }

  private:
    std::vector<std::uint8_t> bytes_;
    std::uint8_t current_ = 0;
    int bits_ = 0;
    long position_ = 0;
};

}  // namespace sfx::test
