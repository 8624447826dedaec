#include "engine/salvage.h"

#include <algorithm>
#include <cstring>

#include "cipher/blowfish.h"
#include "cipher/byte_sum.h"
#include "cipher/key.h"
#include "lzw/lzw_decoder.h"
#include "lzw/lzw_dictionary.h"
#include "platform/allocation.h"
#include "platform/bytes.h"
#include "platform/files.h"

namespace sfx {

namespace {

constexpr char Magic[] = "ZARN";  // with its NUL
constexpr int MagicSize = sizeof Magic;
constexpr std::uint8_t StreamMagic[4] = {'l', 'z', 'w', '\0'};
// The container length, the longest description and its length byte.
constexpr std::int64_t TrailerReach = 4 + 255 + 1;

constexpr std::int64_t ScanPiece = 64 * 1024;
constexpr std::size_t Chunk = 64 * 1024;
static_assert(Chunk % 8 == 0, "pieces hold whole blocks");

// A piece of the file being scanned, with enough of the piece after it to hold the header
// of a magic at its last position: each candidate is judged without a read of its own.
std::uint8_t scanned[ScanPiece + ContainerHeaderSize - 1];
// The piece of the payload being handed out.
std::uint8_t chunk[Chunk];

bool ReadAt(std::FILE* file, std::int64_t size, std::int64_t at, void* into, std::size_t count) {
    return platform::SeekFromEnd(file, size - at) && std::fread(into, 1, count, file) == count;
}

bool MakesSense(const ContainerHeader& header) {
    return header.HasValidMagic() && header.passwordProtected <= 1 && header.compressed <= 1 &&
           std::memchr(header.riddle, 0, RiddleSize) != nullptr;
}

// The end of the payload of the header at `at` when its container length survived the cut
// (only the description or its length byte went), else -1.
std::int64_t PayloadEndInPartTrailer(std::FILE* file, std::int64_t size, std::int64_t at) {
    std::uint8_t tail[TrailerReach];
    const std::int64_t from = std::max(at + ContainerHeaderSize, size - TrailerReach);
    const auto count = static_cast<std::size_t>(size - from);
    if (count < 4 || !ReadAt(file, size, from, tail, count))
        return -1;
    for (std::size_t i = 0; i + 4 <= count; ++i) {
        const auto place = from + static_cast<std::int64_t>(i);
        if (place - at == static_cast<std::int64_t>(LoadLE32(tail + i)))
            return place;
    }
    return -1;
}

// Takes the magic whose header `bytes` holds, at `at`, when the header makes sense and
// payload follows it.
bool TakeCandidate(std::FILE* file, std::int64_t size, std::int64_t at, const std::uint8_t* bytes,
                   SalvageSource& source) {
    if (size - at <= ContainerHeaderSize)
        return false;
    ContainerHeader header;
    header.Decode(bytes);
    if (!MakesSense(header))
        return false;
    const std::int64_t end = PayloadEndInPartTrailer(file, size, at);
    source.found = end >= 0 ? SalvageFound::TrailerInPart : SalvageFound::Magic;
    source.endKnown = end >= 0;
    source.header = header;
    source.fileSize = size;
    source.containerOffset = at;
    source.payloadSize = (end >= 0 ? end : size) - at - ContainerHeaderSize;
    return true;
}

// The last magic whose header makes sense, looked for from the end in pieces; every
// position is looked at once.
bool ScanForMagic(std::FILE* file, std::int64_t size, SalvageSource& source) {
    for (std::int64_t end = size; end > 0;) {
        const std::int64_t start = std::max<std::int64_t>(0, end - ScanPiece);
        const std::int64_t stop = std::min(size, end + ContainerHeaderSize - 1);
        if (!ReadAt(file, size, start, scanned, static_cast<std::size_t>(stop - start)))
            return false;
        for (std::int64_t at = std::min(end, size - MagicSize + 1) - 1; at >= start; --at) {
            const std::uint8_t* here = scanned + (at - start);
            if (std::memcmp(here, Magic, MagicSize) == 0 &&
                TakeCandidate(file, size, at, here, source))
                return true;
        }
        end = start;
    }
    return false;
}

// The payload, read in pieces and decrypted block by block; every byte handed out is summed.
struct PayloadReader {
    std::FILE* file = nullptr;
    std::int64_t remaining = 0;  // payload bytes not read yet
    bool endKnown = true;
    std::uint64_t sum = 0;
    std::int64_t blocks = 0;
    std::int64_t dropped = 0;
    bool stoppedShort = false;
    std::size_t at = 0;  // chunk[at .. length) is still to be handed out
    std::size_t length = 0;

    // Starts over at the first payload byte.
    bool Rewind(const SalvageSource& source);
    // Reads and decrypts the next piece into `chunk`: its length, 0 at the end.
    std::size_t Next();
};

bool PayloadReader::Rewind(const SalvageSource& source) {
    remaining = source.payloadSize;
    endKnown = source.endKnown;
    sum = 0;
    blocks = dropped = 0;
    stoppedShort = false;
    at = length = 0;
    const std::int64_t first = source.containerOffset + ContainerHeaderSize;
    return platform::SeekFromEnd(file, source.fileSize - first);
}

std::size_t PayloadReader::Next() {
    at = length = 0;
    if (remaining == 0)
        return 0;
    const auto wanted = static_cast<std::size_t>(std::min<std::int64_t>(Chunk, remaining));
    const std::size_t got = std::fread(chunk, 1, wanted, file);
    remaining -= static_cast<std::int64_t>(got);
    if (got < wanted) {  // the file shrank, or the disk failed here
        stoppedShort = true;
        remaining = 0;
    }
    const std::size_t whole = got & ~std::size_t{7};
    BlowfishCipher::DecryptBlocksLE(chunk, whole / 8);
    blocks += static_cast<std::int64_t>(whole / 8);
    length = whole;
    // After the last whole block: the clear tail where the payload's end is known, else the
    // start of a block cut short.
    if (remaining == 0 && got > whole) {
        if (endKnown && !stoppedShort)
            length = got;
        else
            dropped += static_cast<std::int64_t>(got - whole);
    }
    sum += ByteSum(chunk, length);
    return length;
}

void Drain(PayloadReader& reader) {
    while (reader.Next() > 0) {
    }
}

void Account(const PayloadReader& reader, SalvageReport& report) {
    report.blocks = reader.blocks;
    report.droppedBytes = reader.dropped;
    report.stoppedShort = reader.stoppedShort;
    report.sumChecked = reader.endKnown && !reader.stoppedShort;
    const std::uint64_t checksum = report.source.header.checksum;
    report.sumOff = reader.sum > checksum ? reader.sum - checksum : checksum - reader.sum;
}

// A stored payload whose sum can be had is summed first, so that a wrong password writes
// nothing; then every block goes out in its place.
bool SalvageStored(PayloadReader& reader, std::FILE* out, SalvageReport& report) {
    if (reader.endKnown) {
        Drain(reader);
        Account(reader, report);
        report.sumBound = SalvageSumBound(reader.blocks, report.source.payloadSize % 8);
        if (report.sumChecked && report.sumOff > report.sumBound) {
            report.status = WrongPassword;
            return false;
        }
        if (!reader.Rewind(report.source)) {
            report.status = ReadFailed;
            return false;
        }
    }
    for (std::size_t length; (length = reader.Next()) > 0;) {
        if (std::fwrite(chunk, 1, length, out) != length) {
            report.status = WriteFailed;
            return false;
        }
        report.written += static_cast<std::int64_t>(length);
    }
    Account(reader, report);
    report.status = report.sumChecked && report.sumOff == 0 ? Ok : DataDamaged;
    return true;
}

// The width of the code at position k (from 1) since the start or the last clear: the
// decoder widens when its next free code, 257 + k after the k-th code, reaches 2^width - 1.
int WidthAt(std::int64_t position) {
    int width = 9;
    while (width < LzwMaxWidth && position > (std::int64_t{1} << width) - 258) ++width;
    return width;
}

enum class SegmentEnd { Clear, EndCode, DataOut, Stray };

// The code stream of a compressed payload, handed to the decoder one segment at a time: the
// codes from the start or a clear up to the next clear, packed anew from bit 0, with an end
// code in the place of the clear, or after the last whole code when the data runs out.
// Widths follow from positions alone, so damage inside a segment leaves the next one
// readable: each decoding starts afresh at a clear.
struct SegmentFeeder {
    PayloadReader& payload;
    std::uint64_t in = 0;  // bits read but not taken, right-aligned
    int inCount = 0;
    std::uint64_t out = 0;  // bits packed but not handed out, right-aligned
    int outCount = 0;
    std::int64_t position = 0;  // of the last code read since the start or the last clear
    int padding = 0;            // look-ahead zero bytes still to hand out
    bool ended = false;         // the segment's end code has been packed
    bool skipping = false;      // codes are walked, not packed
    SegmentEnd end = SegmentEnd::Clear;

    explicit SegmentFeeder(PayloadReader& reader) : payload(reader) {}

    // The next code at its width; false when the data runs out first.
    bool Take(int width, std::uint32_t& code) {
        while (inCount < width) {
            if (payload.at == payload.length && payload.Next() == 0)
                return false;
            in = in << 8 | chunk[payload.at++];
            inCount += 8;
        }
        inCount -= width;
        code = static_cast<std::uint32_t>(in >> inCount) & ((1u << width) - 1);
        in &= (std::uint64_t{1} << inCount) - 1;
        return true;
    }
    void Pack(std::uint32_t code, int width) {
        if (skipping)
            return;
        out = out << width | code;
        outCount += width;
    }
    // Ends the segment with an end code of `width` bits, zero bits up to the byte and the
    // decoder's look-ahead.
    void EndWith(SegmentEnd how, int width) {
        Pack(LzwEndCode, width);
        const int fill = (8 - outCount % 8) % 8;
        out <<= fill;
        outCount += fill;
        padding = 4;
        ended = true;
        end = how;
    }
    // An end code with more data behind it than the stream's own padding is damage.
    bool DataFollows() const {
        const std::int64_t behind =
            payload.remaining + static_cast<std::int64_t>(payload.length - payload.at);
        return behind > (payload.endKnown ? 8 : 8 + TrailerReach);
    }
    // Reads one code and packs what the decoder is to see of it.
    void Step() {
        const int width = WidthAt(++position);
        std::uint32_t code = 0;
        if (!Take(width, code))
            EndWith(SegmentEnd::DataOut, width);
        else if (code == LzwClearCode)
            EndWith(SegmentEnd::Clear, width);
        else if (code == LzwEndCode)
            EndWith(DataFollows() ? SegmentEnd::Stray : SegmentEnd::EndCode, width);
        else
            Pack(code, width);
    }
    std::size_t Read(std::uint8_t* into, std::size_t capacity) {
        std::size_t count = 0;
        while (count < capacity) {
            if (outCount >= 8) {
                outCount -= 8;
                into[count++] = static_cast<std::uint8_t>(out >> outCount);
                out &= (std::uint64_t{1} << outCount) - 1;
            } else if (!ended) {
                Step();
            } else if (padding > 0) {
                into[count++] = 0;
                --padding;
            } else {
                break;
            }
        }
        return count;
    }
    // Walks the rest of a segment the decoder gave up on, and after a stray end code the
    // codes up to the next clear, whose dictionary is lost; true when a segment follows.
    bool NextSegment() {
        skipping = true;
        while (!ended) Step();
        while (end == SegmentEnd::Stray) {
            ended = false;
            while (!ended) Step();
        }
        skipping = false;
        position = 0;
        out = 0;
        outCount = 0;
        padding = 0;
        ended = false;
        return end == SegmentEnd::Clear;
    }
};

std::size_t ReadSegment(void* feeder, std::uint8_t* into, std::size_t capacity) {
    return static_cast<SegmentFeeder*>(feeder)->Read(into, capacity);
}

void NoteLoss(SalvageReport& report, std::int64_t at) {
    if (report.spansLost < SalvageReport::LossesKept)
        report.lostAt[report.spansLost] = at;
    ++report.spansLost;
}

// Decodes segment after segment into `out`; a segment that fails or ends in a stray end
// code loses its rest, the next starts at its clear code.
bool DecodeSegments(PayloadReader& reader, std::FILE* out, SalvageReport& report) {
    LzwDictionary dictionary;
    if (!dictionary.Allocated()) {
        report.status = OutOfMemory;
        return false;
    }
    SegmentFeeder feeder(reader);
    LzwSource input;
    input.read = ReadSegment;
    input.context = &feeder;
    input.length = report.source.payloadSize;
    LzwDecoder& decoder = TheLzwDecoder();
    decoder.SetDictionary(dictionary.prefixCodes, dictionary.suffixBytes);
    bool more = true;
    while (more) {
        const bool decoded = decoder.Decode(input, out, NoProgress);
        report.written += static_cast<std::int64_t>(decoder.written());
        if (std::ferror(out))
            break;
        if (!decoded || feeder.end == SegmentEnd::Stray)
            NoteLoss(report, report.written);
        more = feeder.NextSegment();
    }
    decoder.SetDictionary(nullptr, nullptr);
    report.endCodeReached = feeder.end == SegmentEnd::EndCode;
    report.dataRanOut = feeder.end == SegmentEnd::DataOut;
    if (std::ferror(out)) {
        report.status = WriteFailed;
        return false;
    }
    return true;
}

// A compressed payload: its first block tells a wrong password; the stream is decoded
// segment by segment, then the rest is summed.
bool SalvageCompressed(PayloadReader& reader, std::FILE* out, SalvageReport& report) {
    const std::size_t first = reader.Next();
    const bool magic =
        first >= sizeof StreamMagic && std::memcmp(chunk, StreamMagic, sizeof StreamMagic) == 0;
    if (reader.blocks > 0 && !magic) {
        report.status = WrongPassword;
        return false;
    }
    if (magic) {
        reader.at = sizeof StreamMagic;
        if (!DecodeSegments(reader, out, report))
            return false;
    }
    Drain(reader);
    Account(reader, report);
    const bool intact =
        report.endCodeReached && report.spansLost == 0 && report.sumChecked && report.sumOff == 0;
    report.status = intact ? Ok : DataDamaged;
    return true;
}

}  // namespace

std::uint64_t SalvageSumBound(std::int64_t blocks, std::int64_t tailBytes) {
    const std::int64_t damaged =
        std::max(SalvageDamagedBlocksAtLeast,
                 (blocks + SalvageBlocksPerDamage - 1) / SalvageBlocksPerDamage);
    // At most 2^28 blocks in a container: far from overflowing.
    return static_cast<std::uint64_t>(damaged) * SalvageSumPerBlock +
           static_cast<std::uint64_t>(tailBytes) * 255;
}

bool LocateForSalvage(const char* path, SalvageSource& source, ExtractStatus& failure) {
    ContainerPlacement placement;
    if (ReadContainerHeader(path, source.header, failure, &placement)) {
        source.found = SalvageFound::Trailer;
        source.endKnown = true;
        source.fileSize = placement.fileSize;
        source.containerOffset = placement.containerOffset;
        source.payloadSize = placement.payloadSize;
        return true;
    }
    if (failure == ReadFailed)
        return false;
    std::FILE* file = platform::OpenFile(path, "rb");
    if (file == nullptr) {
        failure = ReadFailed;
        return false;
    }
    const std::int64_t size = platform::FileLength(file);
    const bool found = size > 0 && ScanForMagic(file, size, source);
    std::fclose(file);
    failure = found ? Ok : DataDamaged;
    return found;
}

bool Salvage(const char* path, const char* password, std::FILE* out, SalvageReport& report) {
    report = SalvageReport{};
    ExtractStatus failure = Ok;
    if (!LocateForSalvage(path, report.source, failure)) {
        report.status = failure;
        return false;
    }
    PayloadReader reader;
    reader.file = platform::OpenFile(path, "rb");
    if (reader.file == nullptr || !reader.Rewind(report.source)) {
        if (reader.file != nullptr)
            std::fclose(reader.file);
        report.status = ReadFailed;
        return false;
    }
    std::uint8_t key[KeyBufferSize];
    const int keyLength = DeriveKey(password, report.source.header.passwordProtected != 0, key);
    if (keyLength > 0)
        BlowfishCipher::SetKey(key, static_cast<std::int16_t>(keyLength));
    Wipe(key, sizeof key);

    bool salvaged = false;
    if (keyLength == 0)
        report.status = WrongPassword;
    else if (report.source.header.compressed != 0)
        salvaged = SalvageCompressed(reader, out, report);
    else
        salvaged = SalvageStored(reader, out, report);
    BlowfishCipher::Clear();
    std::fclose(reader.file);
    // A container found by its magic has lost its trailer, however whole its payload.
    if (report.status == Ok && report.source.found != SalvageFound::Trailer)
        report.status = DataDamaged;
    if (salvaged && std::fflush(out) != 0) {
        report.status = WriteFailed;
        return false;
    }
    return salvaged;
}

}  // namespace sfx
