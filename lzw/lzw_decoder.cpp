#include "lzw/lzw_decoder.h"

#include <climits>
#include <cstring>

#include "platform/platform.h"

namespace sfx {

// State invariants between codes:
//   - bitBuffer_ holds bitCount_ unread bits, left-aligned (the next bit is bit 31);
//   - entries 258 .. nextFree-1 are exactly those defined since the start or the last
//     clear, and every entry's prefix code is below the entry itself, so following
//     prefixes always ends at a literal;
//   - width_ bits are read for the next code, maxCode_ == 2^width_ - 1.

void LzwDecoder::SetDictionary(std::uint32_t* prefixCodes, std::uint8_t* suffixBytes) {
    prefix_ = prefixCodes;
    suffix_ = suffixBytes;
}

int LzwDecoder::FetchByte() {
    if (inPos_ == inEnd_) {
        inPos_ = 0;
        inEnd_ = static_cast<int>(std::fread(inBuf_, 1, InputChunk, input_));
        if (inEnd_ == 0)
            return -1;
    }
    return inBuf_[inPos_++];
}

std::uint32_t LzwDecoder::ReadCode() {
    while (bitCount_ <= 24) {
        if (bytesFetched_ == INT32_MAX) {  // longer than any stream a container can hold
            status_ = DecompressFailed;
            return NoCode;
        }
        const int byte = FetchByte();
        ++bytesFetched_;
        if (bytesFetched_ % 1024 == 0)
            progress_(bytesFetched_, inputLength_);
        if (byte < 0) {
            status_ = DecompressFailed;
            return NoCode;
        }
        bitBuffer_ |= static_cast<std::uint32_t>(byte) << (24 - bitCount_);
        bitCount_ += 8;
    }
    const std::uint32_t code = bitBuffer_ >> (32 - width_);
    bitBuffer_ <<= width_;
    bitCount_ -= width_;
    return code;
}

int LzwDecoder::ExpandCode(std::uint32_t code, int place) {
    while (code > 255) {
        if (place >= LzwStackSize) {
            status_ = DecompressFailed;
            return -1;
        }
        stack_[place++] = suffix_[code];
        code = prefix_[code];
    }
    if (place >= LzwStackSize) {
        status_ = DecompressFailed;
        return -1;
    }
    stack_[place] = static_cast<std::uint8_t>(code);
    return place;
}

bool LzwDecoder::FlushOutput() {
    if (outPos_ > 0 && std::fwrite(outBuf_, 1, outPos_, output_) != static_cast<size_t>(outPos_)) {
        outPos_ = 0;
        status_ = DecompressFailed;
        return false;
    }
    outPos_ = 0;
    return true;
}

bool LzwDecoder::Put(const std::uint8_t* bytes, int count) {
    if (outPos_ + count > OutputChunk && !FlushOutput())
        return false;
    std::memcpy(outBuf_ + outPos_, bytes, count);
    outPos_ += count;
    return true;
}

bool LzwDecoder::Decode(std::FILE* input, std::FILE* output, ProgressCallback progress) {
    status_ = Ok;
    width_ = 9;
    maxCode_ = 511;
    bitBuffer_ = 0;
    bitCount_ = 0;
    bytesFetched_ = 0;
    const std::int64_t length = platform::FileLength(input);
    inputLength_ = length < 0 ? 0 : length > INT32_MAX ? INT32_MAX : static_cast<int>(length);
    input_ = input;
    output_ = output;
    progress_ = progress;
    inPos_ = inEnd_ = 0;
    outPos_ = 0;

    std::uint32_t nextFree = LzwFirstFreeCode;
    std::uint32_t previous = 0;
    std::uint8_t firstByte = 0;
    bool awaitingFirst = true;

    for (;;) {
        const std::uint32_t code = ReadCode();
        if (status_ != Ok)
            break;
        if (code == LzwEndCode) {
            if (!FlushOutput())
                return false;
            progress_(0, 0);
            return true;
        }
        if (awaitingFirst) {
            // Only a literal may follow the start or a clear.
            if (code > 255) {
                status_ = DecompressFailed;
                break;
            }
            firstByte = static_cast<std::uint8_t>(code);
            if (!Put(&firstByte, 1))
                break;
            previous = code;
            awaitingFirst = false;
            continue;
        }
        if (code == LzwClearCode) {
            awaitingFirst = true;
            width_ = 9;
            maxCode_ = 511;
            nextFree = LzwFirstFreeCode;
            continue;
        }

        int top;
        if (code < nextFree) {
            top = ExpandCode(code, 0);
        } else if (code == nextFree) {
            // The code names the entry it defines: previous string plus its first byte.
            stack_[0] = firstByte;
            top = ExpandCode(previous, 1);
        } else {
            status_ = DecompressFailed;  // names an entry not defined yet
            break;
        }
        if (top < 0)
            break;
        firstByte = stack_[top];
        const int count = top + 1;
        if (outPos_ + count > OutputChunk && !FlushOutput())
            break;
        for (int i = top; i >= 0; --i) outBuf_[outPos_++] = stack_[i];

        if (nextFree <= maxCode_) {
            prefix_[nextFree] = previous;
            suffix_[nextFree] = firstByte;
            ++nextFree;
            if (nextFree == maxCode_ && width_ < LzwMaxWidth) {
                ++width_;
                maxCode_ = (1u << width_) - 1;
            }
        }
        previous = code;
    }

    // Failure: what was decoded so far still goes to the output.
    const ExtractStatus failure = DecompressFailed;
    FlushOutput();
    status_ = failure;
    return false;
}

LzwDecoder& TheLzwDecoder() {
    static LzwDecoder decoder;
    return decoder;
}

}  // namespace sfx
