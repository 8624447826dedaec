#include "lzw/segment_decoder.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstring>

#include "lzw/decompression_pass.h"
#include "platform/allocation.h"
#include "platform/worker.h"

namespace sfx {

// How the work is shared:
//   - the calling thread scans the codes ahead into segments, each one copied into a slot of
//     its own with the input it needs; a slot is decoded by a helper, or by the calling
//     thread when no helper is free, into the slot's own dictionary and output;
//   - the calling thread then replays the decoded segments in order through a model of the
//     serial decoder's output buffer: it makes that decoder's progress calls and its writes,
//     at the same codes, with the same bytes;
//   - a segment whose output outgrows its slot is decoded further in turn by the calling
//     thread; a segment whose input outgrows a slot hands the rest of the stream to the
//     serial decoder, in the state that decoder would have reached there.

namespace {

// One segment's input at most, look-ahead included; the serial decoder holds as much.
constexpr int InputLimit = LzwDecoder::InputChunk;
// Every code takes 9 bits or more.
constexpr int MaxCodes = InputLimit * 8 / 9 + 1;
// A slot's output; a segment that decodes to more goes on in turn, keeping this much history.
constexpr int OutputCapacity = 128 * 1024;
constexpr int OutputHistory = 64 * 1024;
static_assert(OutputCapacity >= OutputHistory + LzwStackSize + 1);
static_assert(OutputHistory >= LzwStackSize);

// What ends a segment: the code after its last decoded one.
enum class Ending : std::uint8_t {
    Clear,      // a clear code; the next segment follows
    End,        // the end code
    Invalid,    // a code that names no entry, or a first code that is no literal
    Exhausted,  // the input ran out before the code could be read
    TooLong,    // the code lies past any stream a container can hold
};

// Where a slot's decoding stopped: at the code that ends the segment, at a code it cannot
// decode, at a clear or end code earlier than guessed, or for want of room.
enum class Stop : std::uint8_t { Done, Failed, Ended, Full };

// A slot's life: filled by the calling thread (Free to Scanned), claimed by whichever thread
// decodes it (Claimed), decoded, then replayed by the calling thread and freed.
enum SlotState : std::uint8_t { Free, Scanned, Claimed, Decoded };

// Codes stop at 16383, so a dictionary's tables need no more entries and 16-bit prefixes.
constexpr int TableSize = LzwLastCode + 1;
constexpr std::size_t TableBytes =
    TableSize * (sizeof(std::uint32_t) + 2 * sizeof(std::uint16_t) + 1);

// The dictionary one decoding works in. Each thread decodes in tables of its own, which
// stay in its processor's cache from one segment to the next.
struct Tables {
    std::uint32_t* seenAt = nullptr;      // where each entry's string last appeared
    std::uint16_t* seenLength = nullptr;  // and its length
    std::uint16_t* prefix = nullptr;
    std::uint8_t* suffix = nullptr;

    // Carves the tables out of TableBytes at `place`.
    void Place(std::uint8_t* place) {
        seenAt = reinterpret_cast<std::uint32_t*>(place);
        seenLength = reinterpret_cast<std::uint16_t*>(place + TableSize * 4);
        prefix = reinterpret_cast<std::uint16_t*>(place + TableSize * 6);
        suffix = place + TableSize * 8;
    }
    // Copies the entries from 258 up to `end` into `to`.
    void CopyTo(const Tables& to, std::uint32_t end) const {
        const std::size_t count = end - LzwFirstFreeCode;
        std::memcpy(to.seenAt + LzwFirstFreeCode, seenAt + LzwFirstFreeCode, count * 4);
        std::memcpy(to.seenLength + LzwFirstFreeCode, seenLength + LzwFirstFreeCode, count * 2);
        std::memcpy(to.prefix + LzwFirstFreeCode, prefix + LzwFirstFreeCode, count * 2);
        std::memcpy(to.suffix + LzwFirstFreeCode, suffix + LzwFirstFreeCode, count);
    }
};

struct Segment {
    // Set by the scan.
    std::uint64_t startBit = 0;  // stream position of the first code
    std::uint32_t count = 0;     // codes before the one that ends the segment
    Ending ending = Ending::Clear;
    bool guessed = false;         // the ending is the previous segment's, checked by the decoding
    std::int64_t endingNeed = 0;  // fetches once the ending code is read

    // The decoding state, kept between the runs of a segment that outgrew its output.
    std::uint32_t next = 0;    // the next code to decode
    std::uint32_t bitPos = 0;  // its bit position in `input`
    int width = 9;
    std::uint32_t maxCode = 511;
    std::uint32_t nextFree = LzwFirstFreeCode;
    std::uint32_t previous = 0;
    std::uint32_t previousAt = 0;  // segment offset where the previous string starts
    int previousLength = 0;
    std::uint32_t outBase = 0;  // segment offset of output[0]
    int outPos = 0;             // bytes held in output
    Stop stop = Stop::Done;

    // The replay: codes whose output has gone to the serial model, and of that output the
    // segment offset up to which it has been copied there.
    std::uint32_t replayed = 0;
    std::uint32_t copied = 0;
    std::uint32_t produced = 0;  // segment offset after the replayed codes

    // Who may touch the rest: the calling thread while Free or Decoded, the claiming thread
    // while Claimed. A thread that sets the state last publishes what it wrote before.
    std::atomic<std::uint8_t> state{Free};
    std::atomic<std::uint64_t> order{0};  // the segment's place in the stream

    // One allocation, carved into the arrays below.
    std::uint8_t* block = nullptr;
    std::uint8_t* input = nullptr;     // InputLimit + 8 bytes
    std::uint16_t* lengths = nullptr;  // the length of every decoded code's string
    std::uint8_t* output = nullptr;    // OutputCapacity + LzwCopyOverrun bytes
    // The segment's dictionary once its output outgrew the slot: the decoding goes on later,
    // perhaps on another thread. Untouched otherwise.
    Tables own;
    bool owned = false;
};

constexpr std::size_t SlotBytes = TableBytes + (InputLimit + 8) + MaxCodes * sizeof(std::uint16_t) +
                                  OutputCapacity + LzwCopyOverrun + 64;

bool Allocate(Segment& slot) {
    slot.block = static_cast<std::uint8_t*>(platform::Allocate(SlotBytes));
    if (slot.block == nullptr)
        return false;
    // Widest arrays first, so that every one is aligned to its entries.
    std::uint8_t* place = slot.block;
    auto take = [&place](std::size_t bytes) {
        std::uint8_t* start = place;
        place += (bytes + 7) & ~std::size_t{7};
        return start;
    };
    slot.own.Place(take(TableBytes));
    slot.lengths = reinterpret_cast<std::uint16_t*>(take(MaxCodes * 2));
    slot.input = take(InputLimit + 8);
    slot.output = take(OutputCapacity + LzwCopyOverrun);
    return true;
}

// Bits taken by the first `index` codes of a segment: the width grows with the place alone.
std::uint64_t BitsBefore(std::uint32_t index) {
    static constexpr std::uint32_t Widened[] = {254, 766, 1790, 3838, 7934};
    std::uint64_t bits = 0;
    std::uint32_t from = 0;
    int width = 9;
    for (std::uint32_t bound : Widened) {
        if (index <= bound)
            return bits + std::uint64_t{index - from} * width;
        bits += std::uint64_t{bound - from} * width;
        from = bound;
        ++width;
    }
    return bits + std::uint64_t{index - from} * LzwMaxWidth;
}

// Writes the `length` bytes of `code`'s string to out[0..length-1], last byte first.
void ExpandCode(const Tables& tables, std::uint32_t code, int length, std::uint8_t* out) {
    std::uint8_t* place = out + length - 1;
    while (code > 255) {
        *place-- = tables.suffix[code];
        code = tables.prefix[code];
    }
    *place = static_cast<std::uint8_t>(code);
}

// Decodes the slot's codes from slot.next on, up to the code that ends the segment, a code
// that cannot be decoded (Failed, slot.next names it) or an output too full for the longest
// string (Full). Runs on any thread in that thread's `tables`; touches nothing else but the
// slot.
void DecodeSegment(Segment& slot, const Tables& threadTables) {
    const Tables& tables = slot.owned ? slot.own : threadTables;
    const std::uint8_t* const input = slot.input;
    std::uint8_t* const output = slot.output;
    std::uint32_t bitPos = slot.bitPos;
    int width = slot.width;
    std::uint32_t maxCode = slot.maxCode;
    std::uint32_t nextFree = slot.nextFree;
    std::uint32_t previous = slot.previous;
    std::uint32_t previousAt = slot.previousAt;
    int previousLength = slot.previousLength;
    const std::uint32_t outBase = slot.outBase;
    int outPos = slot.outPos;
    Stop stop = Stop::Done;

    std::uint32_t i = slot.next;
    for (; i < slot.count; ++i) {
        if (outPos + LzwStackSize + 1 > OutputCapacity) {
            stop = Stop::Full;
            break;
        }
        const std::uint32_t code = LzwCodeAt(input + (bitPos >> 3), bitPos & 7, width);
        std::uint8_t* const out = output + outPos;
        const std::uint32_t at = outBase + static_cast<std::uint32_t>(outPos);

        int count;
        if (code < 256) {
            *out = static_cast<std::uint8_t>(code);
            count = 1;
        } else if (i == 0 || code < LzwFirstFreeCode) {
            // A clear or end code where the segment was guessed to go on, or a first code
            // that is no literal: the replay tells which.
            stop = Stop::Ended;
            break;
        } else if (code < nextFree) {
            count = tables.seenLength[code];
            if (count > LzwStackSize) {
                stop = Stop::Failed;
                break;
            }
            const std::uint32_t from = tables.seenAt[code];
            if (from >= outBase) {
                LzwCopyString(out, output + (from - outBase), count);
            } else {
                ExpandCode(tables, code, count, out);  // decoded too long ago to be at hand
            }
            tables.seenAt[code] = at;
        } else if (code == nextFree) {
            // Previous string plus its first byte; the previous string ends right here.
            count = previousLength + 1;
            if (count > LzwStackSize) {
                stop = Stop::Failed;
                break;
            }
            LzwCopyString(out, output + (previousAt - outBase), previousLength);
            out[previousLength] = out[0];
        } else {
            stop = Stop::Failed;  // names an entry not defined yet
            break;
        }
        bitPos += static_cast<std::uint32_t>(width);

        if (i > 0 && nextFree <= maxCode) {
            tables.prefix[nextFree] = static_cast<std::uint16_t>(previous);
            tables.suffix[nextFree] = out[0];
            tables.seenAt[nextFree] = previousAt;
            tables.seenLength[nextFree] = static_cast<std::uint16_t>(previousLength + 1);
            ++nextFree;
            if (nextFree == maxCode && width < LzwMaxWidth) {
                ++width;
                maxCode = (1u << width) - 1;
            }
        }
        slot.lengths[i] = static_cast<std::uint16_t>(count);
        outPos += count;
        previous = code;
        previousAt = at;
        previousLength = count;
    }

    slot.next = i;
    slot.bitPos = bitPos;
    slot.width = width;
    slot.maxCode = maxCode;
    slot.nextFree = nextFree;
    slot.previous = previous;
    slot.previousAt = previousAt;
    slot.previousLength = previousLength;
    slot.outPos = outPos;
    slot.stop = stop;
    if (stop == Stop::Full && !slot.owned) {
        tables.CopyTo(slot.own, nextFree);
        slot.owned = true;
    }
}

struct Run;

// A helper's task: its run, and its own dictionary.
struct Helper {
    Run* run = nullptr;
    Tables tables;
    std::uint8_t* block = nullptr;
};

// The state of one parallel run, owned by the calling thread.
struct Run {
    LzwSource* source = nullptr;
    std::FILE* output = nullptr;
    ProgressCallback progress = NoProgress;
    std::int32_t inputLength = 0;

    // The input window: the stream bytes from windowAt on, from the start of the oldest
    // segment in flight at least, so that a segment guessed wrong can be scanned anew.
    std::uint8_t* window = nullptr;  // windowCapacity + 8 bytes
    int windowCapacity = 0;
    std::uint64_t windowAt = 0;
    int windowLength = 0;
    bool exhausted = false;
    std::uint64_t scanBit = 0;     // where the next segment starts
    std::uint32_t guessCount = 0;  // codes in the last segment that a clear code ended
    bool rescan = false;           // the segments after the one replayed were guessed wrong
    std::uint64_t readFrom = 0;    // the window's next byte for the serial decoder

    // The serial decoder's output buffer as it would stand: stream offsets of its first
    // byte, of the end of what has been written and of the end of what has been decoded.
    // `pending` holds the bytes from `flushed` to `produced`.
    std::uint64_t outBase = 0;
    std::uint64_t flushed = 0;
    std::uint64_t produced = 0;
    std::int64_t fetched = 0;         // fetches of the byte-by-byte reader so far
    std::uint8_t* pending = nullptr;  // LzwDecoder::OutputCapacity bytes
    bool writeFailed = false;

    Segment slots[2 * LzwSegmentThreads];
    int slotCount = 0;
    int head = 0;      // the oldest segment in flight
    int inFlight = 0;  // segments scanned and not yet replayed
    std::uint64_t nextOrder = 0;
    Tables mainTables;  // the calling thread's
    std::uint8_t* mainBlock = nullptr;
    platform::Worker* helpers[LzwSegmentThreads - 1] = {};
    Helper helping[LzwSegmentThreads - 1];  // what each helper's task is given
    bool busy[LzwSegmentThreads - 1] = {};  // a helper has been handed DecodeSome
    int helperCount = 0;
    int helpersWanted = 0;

    std::uint64_t WindowEnd() const { return windowAt + static_cast<std::uint64_t>(windowLength); }

    // Drops the input before the oldest segment in flight and reads on until the input up to
    // stream offset `need` is at hand, if the stream is that long. The window holds every
    // segment in flight and one more, each at most InputLimit bytes long.
    void Refill(std::uint64_t need) {
        const std::uint64_t keepFrom = (inFlight > 0 ? slots[head].startBit : scanBit) >> 3;
        const int from = static_cast<int>(keepFrom - windowAt);
        std::memmove(window, window + from, windowLength - from);
        windowAt += from;
        windowLength -= from;
        // Reads no further ahead than a segment's input past what is needed, so that the
        // window's pages that are never needed are never touched.
        while (!exhausted && WindowEnd() < need) {
            const auto wanted = static_cast<int>(std::min<std::uint64_t>(
                windowCapacity - windowLength, need - WindowEnd() + InputLimit));
            const std::size_t got = source->Read(window + windowLength, wanted);
            if (got == 0)
                exhausted = true;
            windowLength += static_cast<int>(got);
        }
    }

    // Makes the progress calls of the fetches up to `need`, as the serial reader would.
    void Announce(std::int64_t need) {
        for (std::int64_t point = (fetched & ~std::int64_t{1023}) + 1024; point <= need;
             point += 1024)
            progress(static_cast<std::int32_t>(point), inputLength);
        if (need > fetched)
            fetched = need;
    }

    // Writes what has been decoded and not written; nothing more after a failed write.
    bool Flush() {
        const std::size_t count = static_cast<std::size_t>(produced - flushed);
        flushed = produced;
        if (writeFailed)
            return false;
        if (count > 0 && std::fwrite(pending, 1, count, output) != count)
            writeFailed = true;
        return !writeFailed;
    }

    // The serial decoder's check before every code but the end code: it writes out and
    // keeps a history when the longest string might not fit. `need` is that code's.
    bool MakeRoom(std::int64_t need) {
        if (produced - outBase + LzwStackSize + 1 <= LzwDecoder::OutputCapacity)
            return true;
        Announce(need);
        if (!Flush())
            return false;
        outBase = produced - LzwDecoder::OutputHistory;
        return true;
    }

    bool ScanSegment(Segment& slot);
    bool GuessSegment(Segment& slot);
    void Fill(Segment& slot, std::uint32_t count, Ending ending, std::uint64_t need,
              std::uint64_t after);
    void Discard();
    void CopyOut(Segment& slot, std::uint32_t upTo);
    bool Replay(Segment& slot, bool& ended);
    bool ReplayCodes(Segment& slot);
    // The oldest segment that nobody decodes yet, now claimed by the calling thread; nullptr
    // when there is none. Any thread.
    Segment* Claim();
    bool Unclaimed() const {
        for (int k = 0; k < inFlight; ++k)
            if (slots[(head + k) % slotCount].state.load(std::memory_order_relaxed) == Scanned)
                return true;
        return false;
    }
    // Frees the segments no thread has claimed, then waits for every busy helper.
    void Quiet(int keep);
    // Allocates the buffers and the first slot; false when the memory cannot be had. The
    // other slots are allocated as they are first used, and the helpers started once there
    // is more than one segment to decode, so that a short stream costs no more than that.
    bool Start(int threads);
    bool TakeSlot(Segment& slot);
    void StartHelpers();
    // Waits for the helpers and lets them go.
    void StopHelpers();
    // Releases the slots and buffers.
    void Release();
};

// Reads the codes of the segment that starts at scanBit up to the code that ends it, and
// copies the input it needs into the slot. False when that input would not fit a slot.
bool Run::ScanSegment(Segment& slot) {
    std::uint64_t bitPos = scanBit;
    const std::uint64_t startByte = bitPos >> 3;
    std::uint32_t index = 0;
    std::uint32_t nextFree = LzwFirstFreeCode;
    std::uint32_t maxCode = 511;
    int width = 9;
    Ending ending;
    std::uint64_t need;
    for (;;) {
        // Bulk: the codes after the first whose bytes are at hand and that neither end the
        // segment nor name an entry not yet defined, read without a check of the input each.
        const std::uint64_t held =
            std::min<std::uint64_t>({WindowEnd(), startByte + InputLimit, INT32_MAX}) * 8;
        const std::uint64_t safeEnd = held >= 32 ? held - 32 : 0;  // in bits
        while (index > 0 && bitPos < safeEnd) {
            const std::uint32_t code =
                LzwCodeAt(window + ((bitPos >> 3) - windowAt), bitPos & 7, width);
            if (code - LzwClearCode < 2 || code > nextFree)
                break;
            bitPos += static_cast<std::uint64_t>(width);
            ++index;
            if (nextFree <= maxCode) {
                ++nextFree;
                if (nextFree == maxCode && width < LzwMaxWidth) {
                    ++width;
                    maxCode = (1u << width) - 1;
                }
            }
        }

        // One code, whatever it is.
        need = (bitPos + 32) >> 3;
        if (need - startByte > static_cast<std::uint64_t>(InputLimit))
            return false;
        if (need > WindowEnd()) {
            Refill(need);
            if (need > WindowEnd()) {
                need = WindowEnd() + 1;  // the fetch that finds the input exhausted counts
                ending = need > INT32_MAX ? Ending::TooLong : Ending::Exhausted;
                break;
            }
        }
        if (need > INT32_MAX) {
            ending = Ending::TooLong;
            break;
        }
        const std::uint32_t code =
            LzwCodeAt(window + ((bitPos >> 3) - windowAt), bitPos & 7, width);
        const std::uint64_t after = bitPos + static_cast<std::uint64_t>(width);
        if (code == LzwEndCode) {
            ending = Ending::End;
            break;
        }
        if (index == 0) {
            if (code > 255) {
                ending = Ending::Invalid;
                break;
            }
        } else if (code == LzwClearCode) {
            ending = Ending::Clear;
            bitPos = after;
            break;
        } else if (code > nextFree) {
            ending = Ending::Invalid;
            break;
        } else if (nextFree <= maxCode) {
            ++nextFree;
            if (nextFree == maxCode && width < LzwMaxWidth) {
                ++width;
                maxCode = (1u << width) - 1;
            }
        }
        bitPos = after;
        ++index;
    }

    if (ending == Ending::Clear)
        guessCount = index;
    Fill(slot, index, ending, need, bitPos);
    return true;
}

// Takes the next segment to be as long as the last one that a clear code ended, when a clear
// code stands where it would end; the decoding checks the codes before it. Encoders clear
// when the dictionary is full, so most segments are found without a scan.
bool Run::GuessSegment(Segment& slot) {
    if (guessCount == 0)
        return false;
    const std::uint64_t clearAt = scanBit + BitsBefore(guessCount);
    const std::uint64_t after = scanBit + BitsBefore(guessCount + 1);
    const std::uint64_t need = (clearAt + 32) >> 3;
    if (need - (scanBit >> 3) > static_cast<std::uint64_t>(InputLimit) || need > INT32_MAX)
        return false;
    if (need > WindowEnd()) {
        Refill(need);
        if (need > WindowEnd())
            return false;
    }
    const auto width = static_cast<int>(after - clearAt);
    if (LzwCodeAt(window + ((clearAt >> 3) - windowAt), clearAt & 7, width) != LzwClearCode)
        return false;
    Fill(slot, guessCount, Ending::Clear, need, after);
    return true;
}

// Sets the slot up for the segment from scanBit on, `count` codes and the one that ends it,
// read once `need` bytes were fetched; the next segment starts at bit `after`.
void Run::Fill(Segment& slot, std::uint32_t count, Ending ending, std::uint64_t need,
               std::uint64_t after) {
    const std::uint64_t startByte = scanBit >> 3;
    slot.startBit = scanBit;
    slot.count = count;
    slot.ending = ending;
    slot.endingNeed = static_cast<std::int64_t>(need);
    slot.next = 0;
    slot.bitPos = static_cast<std::uint32_t>(scanBit & 7);
    slot.width = 9;
    slot.maxCode = 511;
    slot.nextFree = LzwFirstFreeCode;
    slot.outBase = 0;
    slot.outPos = 0;
    slot.replayed = slot.copied = slot.produced = 0;
    slot.stop = Stop::Done;
    slot.owned = false;
    const std::uint64_t end = std::min(need, WindowEnd());
    const int length = static_cast<int>(end - startByte);
    std::memcpy(slot.input, window + (startByte - windowAt), length);
    std::memset(slot.input + length, 0, 8);
    slot.order.store(nextOrder++, std::memory_order_relaxed);
    slot.state.store(Scanned, std::memory_order_release);
    scanBit = after;
}

// Lets go of the segments in flight after the oldest, whose start was guessed wrong.
void Run::Discard() {
    Quiet(1);
    for (int k = 1; k < inFlight; ++k) slots[(head + k) % slotCount].state.store(Free);
    inFlight = 1;
    rescan = false;
}

// Copies the slot's decoded bytes up to segment offset `upTo` into the pending output.
void Run::CopyOut(Segment& slot, std::uint32_t upTo) {
    const std::uint32_t count = upTo - slot.copied;
    std::memcpy(pending + (produced - flushed) - (slot.produced - slot.copied),
                slot.output + (slot.copied - slot.outBase), count);
    slot.copied = upTo;
}

// Replays the slot's decoded codes from slot.replayed up to slot.next; false after a failed
// write.
bool Run::ReplayCodes(Segment& slot) {
    // When the output before the last of the codes leaves room, no check before them fires.
    const std::uint32_t decoded = slot.outBase + static_cast<std::uint32_t>(slot.outPos);
    if (produced + (decoded - slot.produced) - outBase + LzwStackSize + 1 <=
        LzwDecoder::OutputCapacity) {
        produced += decoded - slot.produced;
        slot.produced = decoded;
        CopyOut(slot, decoded);
        slot.replayed = slot.next;
        return true;
    }
    for (std::uint32_t i = slot.replayed; i < slot.next; ++i) {
        if (produced - outBase + LzwStackSize + 1 > LzwDecoder::OutputCapacity) {
            CopyOut(slot, slot.produced);
            const auto need = static_cast<std::int64_t>((slot.startBit + BitsBefore(i) + 32) >> 3);
            if (!MakeRoom(need))
                return false;
        }
        produced += slot.lengths[i];
        slot.produced += slot.lengths[i];
    }
    CopyOut(slot, slot.produced);
    slot.replayed = slot.next;
    return true;
}

// Replays a decoded segment, decoding on in turn while it outgrows its output. False when the
// run has failed; `ended` once the run is over either way.
bool Run::Replay(Segment& slot, bool& ended) {
    ended = true;
    for (;;) {
        if (!ReplayCodes(slot))
            return false;
        if (slot.stop != Stop::Full)
            break;
        // Keep a history for the strings still to come, and go on.
        const int drop = slot.outPos - OutputHistory;
        std::memmove(slot.output, slot.output + drop, OutputHistory);
        slot.outBase += static_cast<std::uint32_t>(drop);
        slot.outPos = OutputHistory;
        DecodeSegment(slot, mainTables);
    }
    if (slot.stop == Stop::Ended) {
        // The segment ends earlier than guessed: at an end code, at a clear code (the
        // segments after it start elsewhere), or at a first code that is no literal.
        const std::uint32_t code =
            LzwCodeAt(slot.input + (slot.bitPos >> 3), slot.bitPos & 7, slot.width);
        slot.count = slot.next;
        slot.endingNeed =
            static_cast<std::int64_t>((slot.startBit + BitsBefore(slot.next) + 32) >> 3);
        if (code == LzwEndCode) {
            slot.ending = Ending::End;
        } else if (code == LzwClearCode && slot.next > 0) {
            slot.ending = Ending::Clear;
            scanBit = slot.startBit + BitsBefore(slot.next + 1);
            guessCount = slot.next;
            rescan = true;
        } else {
            slot.ending = Ending::Invalid;
        }
    } else if (slot.stop == Stop::Failed) {
        // The code that could not be decoded is read and checked for room like any other.
        Announce(static_cast<std::int64_t>((slot.startBit + BitsBefore(slot.next) + 32) >> 3));
        Flush();
        return false;
    }
    switch (slot.ending) {
        case Ending::Clear:
            Announce(slot.endingNeed);
            if (!MakeRoom(slot.endingNeed))
                return false;
            ended = false;
            return true;
        case Ending::End:
            Announce(slot.endingNeed);
            if (!Flush())
                return false;
            progress(0, 0);
            return true;
        case Ending::Invalid:
        case Ending::Exhausted:
            Announce(slot.endingNeed);
            Flush();
            return false;
        case Ending::TooLong:
            Flush();
            return false;
    }
    return false;
}

Segment* Run::Claim() {
    for (;;) {
        Segment* oldest = nullptr;
        std::uint64_t oldestOrder = 0;
        for (Segment& slot : slots) {
            if (slot.state.load(std::memory_order_acquire) != Scanned)
                continue;
            const std::uint64_t order = slot.order.load(std::memory_order_relaxed);
            if (oldest == nullptr || order < oldestOrder) {
                oldest = &slot;
                oldestOrder = order;
            }
        }
        if (oldest == nullptr)
            return nullptr;
        std::uint8_t expected = Scanned;
        if (oldest->state.compare_exchange_strong(expected, Claimed, std::memory_order_acquire))
            return oldest;
    }
}

// A helper's task: decodes the oldest segments nobody has claimed until none is left.
void DecodeSome(void* argument) {
    const Helper& helper = *static_cast<Helper*>(argument);
    while (Segment* slot = helper.run->Claim()) {
        DecodeSegment(*slot, helper.tables);
        slot->state.store(Decoded, std::memory_order_release);
    }
}

void Run::Quiet(int keep) {
    for (int k = keep; k < inFlight; ++k) {
        std::uint8_t expected = Scanned;
        slots[(head + k) % slotCount].state.compare_exchange_strong(expected, Free);
    }
    for (int h = 0; h < helperCount; ++h) {
        if (busy[h])
            platform::WaitForTask(helpers[h]);
        busy[h] = false;
    }
}

bool Run::Start(int threads) {
    threads = std::clamp(threads, 1, LzwSegmentThreads);
    slotCount = threads + (threads > 4 ? 1 : 2);  // a peak RSS under 8 MiB on 8 threads
    windowCapacity = (slotCount + 2) * InputLimit;
    window = static_cast<std::uint8_t*>(platform::Allocate(windowCapacity + 8));
    pending = static_cast<std::uint8_t*>(platform::Allocate(LzwDecoder::OutputCapacity));
    mainBlock = static_cast<std::uint8_t*>(platform::Allocate(TableBytes));
    if (window == nullptr || pending == nullptr || mainBlock == nullptr)
        return false;
    mainTables.Place(mainBlock);
    helpersWanted = threads - 1;
    return Allocate(slots[0]);
}

bool Run::TakeSlot(Segment& slot) {
    if (slot.block != nullptr)
        return true;
    if (Allocate(slot))
        return true;
    // The slots are first taken in order: make do with those that could be had.
    slotCount = static_cast<int>(&slot - slots);
    return false;
}

void Run::StartHelpers() {
    while (helperCount < helpersWanted) {
        Helper& helper = helping[helperCount];
        helper.run = this;
        if (helper.block == nullptr)
            helper.block = static_cast<std::uint8_t*>(platform::Allocate(TableBytes));
        platform::Worker* worker = helper.block != nullptr ? platform::StartWorker() : nullptr;
        if (worker == nullptr) {
            helpersWanted = helperCount;
            break;
        }
        helper.tables.Place(helper.block);
        helpers[helperCount++] = worker;
    }
}

void Run::StopHelpers() {
    Quiet(0);
    while (helperCount > 0) platform::StopWorker(helpers[--helperCount]);
}

void Run::Release() {
    for (Segment& slot : slots) {
        platform::Release(slot.block);
        slot.block = nullptr;
    }
    for (Helper& helper : helping) {
        platform::Release(helper.block);
        helper.block = nullptr;
    }
    platform::Release(window);
    platform::Release(pending);
    platform::Release(mainBlock);
    window = pending = mainBlock = nullptr;
    slotCount = 0;
}

// The input for the serial decoder once it takes over: what the window holds, then the rest.
std::size_t ReadOn(void* context, std::uint8_t* into, std::size_t capacity) {
    Run& run = *static_cast<Run*>(context);
    if (run.readFrom < run.WindowEnd()) {
        const std::size_t count = std::min<std::size_t>(
            capacity, static_cast<std::size_t>(run.WindowEnd() - run.readFrom));
        std::memcpy(into, run.window + (run.readFrom - run.windowAt), count);
        run.readFrom += count;
        return count;
    }
    return run.exhausted ? 0 : run.source->Read(into, capacity);
}

}  // namespace

bool DecodeInSegments(LzwDecoder& decoder, LzwSource& input, std::FILE* output,
                      ProgressCallback progress, int threads) {
    Run run;
    if (!run.Start(threads)) {
        run.StopHelpers();
        run.Release();
        return decoder.Decode(input, output, progress);
    }
    const std::int64_t length = input.length;
    run.inputLength = length < 0 ? 0 : length > INT32_MAX ? INT32_MAX : static_cast<int>(length);
    run.source = &input;
    run.output = output;
    run.progress = progress;

    bool scanned = false;   // no segment is left to scan
    bool handOver = false;  // the next segment is too long for a slot
    bool succeeded = false;
    for (;;) {
        while (!scanned && run.inFlight < run.slotCount) {
            Segment& slot = run.slots[(run.head + run.inFlight) % run.slotCount];
            if (!run.TakeSlot(slot))
                break;
            if (!run.GuessSegment(slot) && !run.ScanSegment(slot)) {
                scanned = handOver = true;
                break;
            }
            ++run.inFlight;
            scanned = slot.ending != Ending::Clear;
        }
        if (run.inFlight == 0)
            break;

        // Every helper that is free goes to decode what nobody has claimed.
        if (run.inFlight > 1)
            run.StartHelpers();
        for (int h = 0; h < run.helperCount; ++h) {
            if (run.busy[h] && platform::TaskFinished(run.helpers[h]))
                run.busy[h] = false;
            if (!run.busy[h] && run.Unclaimed()) {
                run.busy[h] = true;
                platform::PostTask(run.helpers[h], DecodeSome, &run.helping[h]);
            }
        }

        Segment& first = run.slots[run.head];
        if (first.state.load(std::memory_order_acquire) == Decoded) {
            bool ended = false;
            const bool ok = run.Replay(first, ended);
            if (ended) {
                succeeded = ok;
                handOver = false;
                break;
            }
            if (run.rescan) {
                run.Discard();
                scanned = handOver = false;
            }
            first.state.store(Free);
            run.head = (run.head + 1) % run.slotCount;
            --run.inFlight;
            continue;
        }
        // Rather than wait, decode a segment that nobody has claimed; else wait for the
        // helpers, which end their tasks once every segment in flight is claimed.
        if (Segment* own = run.Claim()) {
            DecodeSegment(*own, run.mainTables);
            own->state.store(Decoded, std::memory_order_release);
            continue;
        }
        for (int h = 0; h < run.helperCount; ++h) {
            if (run.busy[h] && first.state.load(std::memory_order_acquire) != Decoded) {
                platform::WaitForTask(run.helpers[h]);
                run.busy[h] = false;
            }
        }
    }

    run.StopHelpers();
    if (!handOver) {
        run.Release();
        decoder.Settle(succeeded);
        return succeeded;
    }
    // The serial decoder goes on from the segment that did not fit, with the input from its
    // start and the output not yet written as they stand.
    run.readFrom = run.scanBit >> 3;
    LzwSource rest;
    rest.read = ReadOn;
    rest.context = &run;
    rest.length = input.length;
    LzwResume resume;
    resume.bitPos = run.scanBit;
    resume.fetched = static_cast<std::int32_t>(run.fetched);
    resume.inputAt = run.readFrom;
    resume.outBase = run.outBase;
    resume.outPos = static_cast<int>(run.produced - run.outBase);
    resume.outFlushed = static_cast<int>(run.flushed - run.outBase);
    resume.pending = run.pending;
    const bool decoded = decoder.Decode(rest, output, progress, resume);
    run.Release();
    return decoded;
}

void UseSegmentDecoding() {
    segmentDecoding = DecodeInSegments;
}

}  // namespace sfx
