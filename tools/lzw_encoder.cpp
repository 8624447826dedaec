#include "tools/lzw_encoder.h"

#include <algorithm>
#include <iterator>
#include <utility>

#include "lzw/lzw_decoder.h"

namespace sfx {

int LzwCodeWidth(std::uint64_t position) {
    // The decoder widens one code early: as soon as its next free code reaches 2^width - 1.
    // After the code at position k it stands at 257 + k, so the code at position k needs
    // the bits of 257 + k.
    if (position <= 254) {
        return 9;
    }
    if (position <= 766) {
        return 10;
    }
    if (position <= 1790) {
        return 11;
    }
    if (position <= 3838) {
        return 12;
    }
    if (position <= 7934) {
        return 13;
    }
    return LzwMaxWidth;
}

void LzwBitWriter::Write(std::uint32_t code, int width) {
    pending = (pending << width) | (code & ((1u << width) - 1u));
    pendingBits += width;
    while (pendingBits >= 8) {
        pendingBits -= 8;
        bytes.push_back(static_cast<std::uint8_t>(pending >> pendingBits));
    }
    pending &= (1u << pendingBits) - 1u;
}

void LzwBitWriter::Flush() {
    if (pendingBits > 0) {
        Write(0, 8 - pendingBits);
    }
}

void LzwBitWriter::Finish() {
    Flush();
    bytes.push_back(0);
    bytes.push_back(0);
}

LzwEncoder::LzwEncoder(const LzwEncoderOptions& options)
    : options_(options), keys_(TableSize, 0), codes_(TableSize, 0) {
    Reset();
}

void LzwEncoder::Reset() {
    std::fill(keys_.begin(), keys_.end(), 0u);
    nextFree_ = LzwFirstFreeCode;
    position_ = 0;
    dataCodes_ = 0;
}

std::uint32_t LzwEncoder::Slot(std::uint32_t key) const {
    std::uint32_t slot = (key * 2654435761u) >> 17;  // top 15 bits
    while (keys_[slot] != 0 && keys_[slot] != key) {
        slot = (slot + 1) & (TableSize - 1);
    }
    return slot;
}

void LzwEncoder::Put(std::uint32_t code) {
    ++position_;
    writer_.Write(code, LzwCodeWidth(position_));
}

void LzwEncoder::PutData(std::uint32_t code, std::uint8_t next) {
    Put(code);
    ++dataCodes_;
    if (options_.clearEvery > 0 && dataCodes_ >= static_cast<std::uint64_t>(options_.clearEvery)) {
        Put(LzwClearCode);
        Reset();
        return;
    }
    if (nextFree_ <= LzwLastCode) {
        // The decoder defines an entry with every data code, so the number is used even when
        // the string is already known (a match cut short by the length limit). Such entries
        // are one byte too long to be matched and are never written.
        const std::uint32_t key = ((code << 8) | next) + 1u;
        const std::uint32_t slot = Slot(key);
        if (keys_[slot] == 0) {
            keys_[slot] = key;
            codes_[slot] = static_cast<std::uint16_t>(nextFree_);
        }
        ++nextFree_;
        return;
    }
    // Full: entry 16383 is defined on both sides once this code has been decoded.
    if (options_.clearWhenFull) {
        Put(LzwClearCode);
        Reset();
    }
}

void LzwEncoder::Feed(const std::uint8_t* data, std::size_t size) {
    if (finished_) {
        return;
    }
    std::size_t i = 0;
    if (current_ == NoCode && size > 0) {
        current_ = data[0];
        length_ = 1;
        i = 1;
    }
    for (; i < size; ++i) {
        const std::uint8_t byte = data[i];
        if (length_ < LzwMaxStringLength) {
            const std::uint32_t slot = Slot(((current_ << 8) | byte) + 1u);
            if (keys_[slot] != 0) {
                current_ = codes_[slot];
                ++length_;
                continue;
            }
        }
        PutData(current_, byte);
        current_ = byte;
        length_ = 1;
    }
}

void LzwEncoder::Finish() {
    if (finished_) {
        return;
    }
    finished_ = true;
    if (current_ != NoCode) {
        Put(current_);
    }
    Put(LzwEndCode);
    writer_.Finish();
}

std::vector<std::uint8_t> LzwEncode(const std::uint8_t* data, std::size_t size,
                                    const LzwEncoderOptions& options) {
    LzwEncoder encoder(options);
    encoder.Feed(data, size);
    encoder.Finish();
    return std::move(encoder.Output());
}

std::vector<std::uint8_t> LzwEncodeIntermediate(const std::uint8_t* data, std::size_t size,
                                                const LzwEncoderOptions& options) {
    std::vector<std::uint8_t> stream = LzwEncode(data, size, options);
    stream.insert(stream.begin(), std::begin(LzwIntermediateMagic), std::end(LzwIntermediateMagic));
    return stream;
}

}  // namespace sfx
