#include "lzw/lzw_decoder.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "platform/files.h"

namespace sfx {

// State invariants between codes (the cursor is Decode's one Cursor):
//   - inStart_ * 8 + cursor.bitPos is the stream position of the next code, and inBuf_
//     holds its byte; cursor.milestone is the 1024th (fetches & ~1023) of the fetches of a
//     byte-by-byte reader up to the last code read; cursor.fastEnd is the smaller of
//     inEnd_ + 1 and the offset in inBuf_ of the next 1024th, so that a code whose fetches
//     end below it is at hand and reaches no new 1024th;
//   - outBuf_[0 .. cursor.outPos-1] holds the decoded stream from offset outBase_ on;
//   - entries 258 .. nextFree-1 are exactly those defined since the start or the last
//     clear, and every entry's prefix code is below the entry itself, so following
//     prefixes always ends at a literal;
//   - for every such entry, seen_ names a place in the decoded stream that holds its string;
//   - cursor.width bits are read for the next code, maxCode == 2^width - 1.

namespace {

constexpr int LengthBits = 16;
constexpr std::uint64_t LengthMask = (1u << LengthBits) - 1;

}  // namespace

void LzwDecoder::SetDictionary(std::uint32_t* prefixCodes, std::uint8_t* suffixBytes) {
    prefix_ = prefixCodes;
    suffix_ = suffixBytes;
}

void LzwDecoder::Refill(std::uint32_t keepFrom, std::uint32_t need) {
    std::memmove(inBuf_, inBuf_ + keepFrom, inEnd_ - keepFrom);
    inStart_ += keepFrom;
    inEnd_ -= static_cast<int>(keepFrom);
    need -= keepFrom;
    while (!inputExhausted_ && static_cast<std::uint32_t>(inEnd_) < need) {
        const std::size_t got = input_->Read(inBuf_ + inEnd_, InputChunk - inEnd_);
        if (got == 0)
            inputExhausted_ = true;
        inEnd_ += static_cast<int>(got);
    }
}

inline std::uint32_t LzwDecoder::TakeCode(Cursor& cursor) const {
    const std::uint32_t code =
        LzwCodeAt(inBuf_ + (cursor.bitPos >> 3), cursor.bitPos & 7, cursor.width);
    cursor.bitPos += cursor.width;
    return code;
}

inline std::uint32_t LzwDecoder::ReadCode(Cursor& cursor) {
    // The byte-by-byte reader has fetched up to inBuf_[need] once it holds the code's bits.
    std::uint32_t need = (cursor.bitPos + 32) >> 3;
    bool exhausted = false;
    if (need > static_cast<std::uint32_t>(inEnd_)) {
        // Only the bytes from the next code on are still needed.
        const std::uint32_t from = cursor.bitPos >> 3;
        Refill(from, need);
        cursor.bitPos -= from * 8;
        need -= from;
        if (need > static_cast<std::uint32_t>(inEnd_)) {
            // Its next fetch finds the input exhausted; that fetch counts too.
            need = static_cast<std::uint32_t>(inEnd_) + 1;
            exhausted = true;
        }
    }
    const std::uint64_t fetches = inStart_ + need;
    if (fetches > INT32_MAX) {  // longer than any stream a container can hold
        status_ = DecompressFailed;
        return NoCode;
    }
    // A code takes at most 4 fetches, so at most one of them is a 1024th.
    const std::int32_t milestone = static_cast<std::int32_t>(fetches) & ~1023;
    if (milestone > cursor.milestone)
        progress_(milestone, inputLength_);
    cursor.milestone = milestone;
    if (exhausted) {
        status_ = DecompressFailed;
        return NoCode;
    }
    const std::uint64_t nextMilestone = static_cast<std::uint64_t>(milestone) + 1024 - inStart_;
    cursor.fastEnd = static_cast<std::uint32_t>(
        std::min<std::uint64_t>(static_cast<std::uint64_t>(inEnd_) + 1, nextMilestone));
    return TakeCode(cursor);
}

void LzwDecoder::ExpandCode(std::uint32_t code, int length, std::uint8_t* out) const {
    std::uint8_t* place = out + length - 1;
    while (code > 255) {
        *place-- = suffix_[code];
        code = prefix_[code];
    }
    *place = static_cast<std::uint8_t>(code);
}

bool LzwDecoder::FlushOutput(int end) {
    const int count = end - outFlushed_;
    outFlushed_ = end;
    if (count > 0 &&
        std::fwrite(outBuf_ + end - count, 1, count, output_) != static_cast<size_t>(count)) {
        status_ = DecompressFailed;
        return false;
    }
    return true;
}

inline bool LzwDecoder::MakeRoom(Cursor& cursor) {
    if (!FlushOutput(cursor.outPos))
        return false;
    const int drop = cursor.outPos - OutputHistory;
    std::memmove(outBuf_, outBuf_ + drop, OutputHistory);
    outBase_ += drop;
    cursor.outPos = OutputHistory;
    outFlushed_ = OutputHistory;
    return true;
}

bool LzwDecoder::Decode(std::FILE* input, std::FILE* output, ProgressCallback progress) {
    LzwSource source;
    source.file = input;
    source.length = platform::FileLength(input);
    return Decode(source, output, progress);
}

bool LzwDecoder::Decode(LzwSource& input, std::FILE* output, ProgressCallback progress) {
    return Decode(input, output, progress, LzwResume{});
}

bool LzwDecoder::Decode(LzwSource& input, std::FILE* output, ProgressCallback progress,
                        const LzwResume& resume) {
    static_assert(OutputCapacity >= OutputHistory + LzwStackSize + 1);
    static_assert(OutputHistory >= LzwStackSize);
    status_ = Ok;
    const std::int64_t length = input.length;
    inputLength_ = length < 0 ? 0 : length > INT32_MAX ? INT32_MAX : static_cast<int>(length);
    input_ = &input;
    output_ = output;
    progress_ = progress;
    inStart_ = resume.inputAt;
    inEnd_ = 0;
    inputExhausted_ = false;
    outBase_ = resume.outBase;
    outFlushed_ = resume.outFlushed;
    if (resume.outPos > resume.outFlushed)
        std::memcpy(outBuf_ + resume.outFlushed, resume.pending, resume.outPos - resume.outFlushed);

    // The input starts at the byte of the next code (inputAt is bitPos / 8); fastEnd 0 takes
    // the first code through ReadCode, which fetches it.
    Cursor cursor;
    cursor.bitPos = static_cast<std::uint32_t>(resume.bitPos - inStart_ * 8);
    cursor.milestone = resume.fetched & ~1023;
    cursor.outPos = resume.outPos;
    std::uint32_t maxCode = 511;
    std::uint32_t nextFree = LzwFirstFreeCode;
    std::uint32_t previous = 0;
    std::uint64_t previousAt = 0;  // where the previous string starts in the decoded stream
    int previousLength = 0;
    bool awaitingFirst = true;

    for (;;) {
        std::uint32_t code;
        if (((cursor.bitPos + 32) >> 3) < cursor.fastEnd) {
            // Most codes need no new input and pass no 1024th fetch.
            code = TakeCode(cursor);
        } else {
            code = ReadCode(cursor);
            if (code == NoCode)
                break;
        }
        if (code == LzwEndCode) {
            if (!FlushOutput(cursor.outPos))
                return false;
            progress_(0, 0);
            return true;
        }
        if (cursor.outPos + LzwStackSize + 1 > OutputCapacity && !MakeRoom(cursor))
            break;
        std::uint8_t* const out = outBuf_ + cursor.outPos;
        const std::uint64_t at = outBase_ + cursor.outPos;

        if (awaitingFirst) {
            // Only a literal may follow the start or a clear.
            if (code > 255) {
                status_ = DecompressFailed;
                break;
            }
            *out = static_cast<std::uint8_t>(code);
            ++cursor.outPos;
            previous = code;
            previousAt = at;
            previousLength = 1;
            awaitingFirst = false;
            continue;
        }
        if (code == LzwClearCode) {
            awaitingFirst = true;
            cursor.width = 9;
            maxCode = 511;
            nextFree = LzwFirstFreeCode;
            continue;
        }

        int count;
        if (code < 256) {
            *out = static_cast<std::uint8_t>(code);
            count = 1;
        } else if (code < nextFree) {
            const std::uint64_t seen = seen_[code];
            count = static_cast<int>(seen & LengthMask);
            if (count > LzwStackSize) {
                status_ = DecompressFailed;  // longer than the decode stack holds
                break;
            }
            const std::uint64_t from = seen >> LengthBits;
            if (from >= outBase_) {
                LzwCopyString(out, outBuf_ + (from - outBase_), count);
            } else {
                ExpandCode(code, count, out);  // decoded too long ago to be at hand
            }
            seen_[code] = at << LengthBits | static_cast<std::uint64_t>(count);
        } else if (code == nextFree) {
            // The code names the entry it defines: previous string plus its first byte.
            // The previous string ends right here, so it is always at hand.
            count = previousLength + 1;
            if (count > LzwStackSize) {
                status_ = DecompressFailed;
                break;
            }
            LzwCopyString(out, outBuf_ + (previousAt - outBase_), previousLength);
            out[previousLength] = out[0];
        } else {
            status_ = DecompressFailed;  // names an entry not defined yet
            break;
        }
        cursor.outPos += count;

        if (nextFree <= maxCode) {
            // The new entry's string is the previous string and this string's first byte,
            // which is where the previous string was decoded.
            prefix_[nextFree] = previous;
            suffix_[nextFree] = out[0];
            seen_[nextFree] =
                previousAt << LengthBits | static_cast<std::uint64_t>(previousLength + 1);
            ++nextFree;
            if (nextFree == maxCode && cursor.width < LzwMaxWidth) {
                ++cursor.width;
                maxCode = (1u << cursor.width) - 1;
            }
        }
        previous = code;
        previousAt = at;
        previousLength = count;
    }

    // Failure: what was decoded so far still goes to the output.
    FlushOutput(cursor.outPos);
    status_ = DecompressFailed;
    return false;
}

LzwDecoder& TheLzwDecoder() {
    static LzwDecoder decoder;
    return decoder;
}

}  // namespace sfx
