#include "cipher/decryption_pass.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "cipher/blowfish.h"
#include "cipher/byte_sum.h"
#include "cipher/key.h"
#include "engine/container.h"
#include "platform/bytes.h"
#include "platform/own_file.h"
#include "platform/write_behind.h"

namespace sfx {

namespace {

static_assert(DecryptedPayload::ProgressStep % 8 == 0 && DecryptedPayload::ChunkSize % 8 == 0 &&
              DecryptedPayload::WriteChunkSize % DecryptedPayload::ChunkSize == 0);

// One piece is being written (or decoded) while the next is read and decrypted. Pages a pass
// leaves untouched (a decoder's pieces are smaller) take no memory. Both pieces start on a
// cache line: the vector cipher's loads and stores that straddle two lines cost up to half
// its speed.
static_assert(DecryptedPayload::WriteChunkSize % 64 == 0);
alignas(64) std::uint8_t chunks[2][DecryptedPayload::WriteChunkSize];

// One helper's share of a piece.
struct Share {
    std::uint8_t* data = nullptr;
    std::size_t blocks = 0;
    std::uint64_t sum = 0;
};
Share shares[DecryptedPayload::MaxThreads];

void DecryptShare(void* share) {
    Share& mine = *static_cast<Share*>(share);
    BlowfishCipher::DecryptBlocksLE(mine.data, mine.blocks);
    mine.sum = ByteSum(mine.data, mine.blocks * 8);
}

// Below this many blocks a piece is not worth sharing.
constexpr std::size_t SharedBlocksAtLeast = 4096;

// Reads the next piece into the buffer that is not being handed out.
void ReadAhead(void* payload) {
    DecryptedPayload& self = *static_cast<DecryptedPayload*>(payload);
    self.aheadLength = self.Next(chunks[self.pieceBuffer ^ 1]);
    self.aheadEnd = self.position;
}

// Writes every piece of `payload` to `output`, one on the worker while the next is read and
// decrypted. A piece's progress points are announced once it is written, so after a failed
// write they stop at the block that failed.
bool WriteAll(DecryptedPayload& payload, PassOutput& output) {
    payload.pieceSize = DecryptedPayload::WriteChunkSize;
    platform::WriteBehind writer;
    writer.Begin(output.stream, payload.total > payload.pieceSize);
    int current = 0;
    std::int64_t queuedAt = 0;
    for (;;) {
        const std::int32_t length = payload.Next(chunks[current]);
        if (!writer.Finish()) {
            payload.job->writeError = writer.error;
            payload.Announce(queuedAt + static_cast<std::int64_t>(writer.stored));
            return payload.Fail(WriteFailed, output);
        }
        payload.Announce(queuedAt + static_cast<std::int64_t>(writer.size));
        if (length == 0)
            break;
        queuedAt = payload.position - length;
        writer.Start(chunks[current], static_cast<std::size_t>(length));
        current ^= 1;
    }
    if (payload.readFailed)
        return payload.Fail(ReadFailed, output);
    return payload.Finish(output);
}

bool RunPass(ExtractionJob& job, const char* sourcePath, PassOutput& output, const char* outputPath,
             const char* password) {
    DecryptedPayload payload;
    if (!payload.Open(job, sourcePath, password))
        return payload.Fail(job.decryptStatus, output);
    if (outputPath != nullptr) {
        output.stream = platform::CreateNewFile(outputPath);
        output.owned = true;
        if (output.stream == nullptr)
            return payload.Fail(WriteFailed, output);
        // Whole chunks go out: a stream buffer would only add a copy.
        std::setvbuf(output.stream, nullptr, _IONBF, 0);
    }
    return WriteAll(payload, output);
}

}  // namespace

bool DecryptionPass::Run(ExtractionJob& job, const char* sourcePath, const char* outputPath,
                         const char* password) {
    PassOutput output;
    return RunPass(job, sourcePath, output, outputPath, password);
}

bool DecryptionPass::RunInto(ExtractionJob& job, const char* sourcePath, std::FILE* output,
                             const char* password) {
    PassOutput borrowed;
    borrowed.stream = output;
    return RunPass(job, sourcePath, borrowed, nullptr, password);
}

bool DecryptedPayload::Open(ExtractionJob& owner, const char* sourcePath, const char* password) {
    Close();
    job = &owner;
    job->decryptStatus = Ok;
    pieceSize = ChunkSize;
    position = 0;
    announced = -1;
    sum = 0;
    readFailed = false;
    pieceAt = pieceLength = 0;
    pieceBuffer = 0;

    ContainerHeader header;
    std::int32_t payloadSize = 0;
    ExtractStatus failure = Ok;
    if (!OpenContainer(sourcePath, header, source, payloadSize, failure)) {
        job->decryptStatus = failure;
        return false;
    }
    total = payloadSize;
    blocksEnd = total & ~std::int64_t{7};
    checksum = header.checksum;

    std::uint8_t key[KeyBufferSize];
    const int keyLength = DeriveKey(password, header.passwordProtected != 0, key);
    if (keyLength > 0)
        BlowfishCipher::SetKey(key, static_cast<std::int16_t>(keyLength));
    Wipe(key, sizeof key);
    if (keyLength == 0) {
        job->decryptStatus = WrongPassword;
        return false;
    }
    if (total > ChunkSize) {
        const int threads = std::min(platform::HardwareThreads(), static_cast<int>(MaxThreads));
        while (helperCount < threads - 1) {
            platform::Worker* helper = platform::StartWorker();
            if (helper == nullptr)
                break;
            helpers[helperCount++] = helper;
        }
    }
    Announce(0);
    return true;
}

std::int32_t DecryptedPayload::Next(std::uint8_t* buffer) {
    if (readFailed || position == total)
        return 0;
    if (position == blocksEnd) {
        // The tail of 0 to 7 bytes is stored in the clear.
        const auto length = static_cast<std::int32_t>(total - position);
        if (std::fread(buffer, 1, length, source) != static_cast<std::size_t>(length)) {
            readFailed = true;
            return 0;
        }
        sum += ByteSum(buffer, length);
        position = total;
        return length;
    }
    const auto wanted =
        static_cast<std::int32_t>(std::min<std::int64_t>(pieceSize, blocksEnd - position));
    const auto got = static_cast<std::int32_t>(std::fread(buffer, 1, wanted, source));
    const std::int32_t whole = got & ~7;
    sum += DecryptAndSum(buffer, static_cast<std::size_t>(whole) / 8);
    position += whole;
    readFailed = got < wanted;  // the next block could not be read in full
    return whole;
}

void DecryptedPayload::Announce(std::int64_t reached) {
    const std::int64_t last = std::min(reached, blocksEnd);
    std::int64_t point = announced < 0 ? 0 : announced + ProgressStep;
    for (; point <= last; point += ProgressStep) {
        // Points never pass the payload's length, which fits 32 bits.
        job->decryptProgress(static_cast<std::int32_t>(point), static_cast<std::int32_t>(total));
        announced = point;
    }
}

std::uint64_t DecryptedPayload::DecryptAndSum(std::uint8_t* data, std::size_t blocks) {
    if (helperCount == 0 || blocks < SharedBlocksAtLeast) {
        BlowfishCipher::DecryptBlocksLE(data, blocks);
        return ByteSum(data, blocks * 8);
    }
    // Equal shares of whole blocks, each starting on a cache line as the piece does; the
    // calling thread takes the first, the last takes what is left.
    const int threads = helperCount + 1;
    const std::size_t each = blocks / threads / 8 * 8;
    for (int i = 0; i < threads; ++i) {
        shares[i].data = data + i * each * 8;
        shares[i].blocks = i == threads - 1 ? blocks - i * each : each;
    }
    for (int i = 1; i < threads; ++i) platform::PostTask(helpers[i - 1], DecryptShare, &shares[i]);
    DecryptShare(&shares[0]);
    std::uint64_t total = shares[0].sum;
    for (int i = 1; i < threads; ++i) {
        platform::WaitForTask(helpers[i - 1]);
        total += shares[i].sum;
    }
    return total;
}

std::size_t DecryptedPayload::Read(std::uint8_t* into, std::size_t capacity) {
    if (pieceAt == pieceLength) {
        // The next piece: the one read ahead, or the first, read now.
        if (aheadPending) {
            platform::WaitForTask(reader);
            aheadPending = false;
            pieceBuffer ^= 1;
            pieceLength = aheadLength;
            Announce(aheadEnd);
        } else {
            pieceLength = Next(chunks[pieceBuffer]);
            Announce(position);
        }
        pieceAt = 0;
        if (pieceLength == 0)
            return 0;
        if (reader == nullptr && total > ChunkSize)
            reader = platform::StartWorker();
        if (reader != nullptr && position < total && !readFailed) {
            aheadPending = true;
            platform::PostTask(reader, ReadAhead, this);
        }
    }
    const std::size_t count = std::min(capacity, static_cast<std::size_t>(pieceLength - pieceAt));
    std::memcpy(into, chunks[pieceBuffer] + pieceAt, count);
    pieceAt += static_cast<std::int32_t>(count);
    return count;
}

bool DecryptedPayload::Finish(PassOutput& output) {
    // The sum covers the whole payload, whether or not the consumer took all of it.
    if (aheadPending) {
        platform::WaitForTask(reader);
        aheadPending = false;
        Announce(aheadEnd);
    }
    do {
        pieceLength = Next(chunks[0]);
        Announce(position);
    } while (pieceLength > 0);
    pieceAt = 0;
    if (readFailed)
        return Fail(ReadFailed, output);
    Close();
    if (!output.Finish()) {
        job->writeError = errno;
        return Fail(WriteFailed, output);
    }
    job->decryptProgress(0, 0);
    if (sum != checksum) {
        job->decryptStatus = WrongPassword;
        return false;
    }
    return true;
}

bool DecryptedPayload::Fail(ExtractStatus code, PassOutput& output) {
    Close();
    output.Abandon();
    if (job != nullptr)
        job->decryptStatus = code;
    return false;
}

void DecryptedPayload::Close() {
    if (aheadPending)
        platform::WaitForTask(reader);
    aheadPending = false;
    if (reader != nullptr)
        platform::StopWorker(reader);
    reader = nullptr;
    while (helperCount > 0) platform::StopWorker(helpers[--helperCount]);
    if (source != nullptr)
        std::fclose(source);
    source = nullptr;
    BlowfishCipher::Clear();  // no thread decrypts any more
}

}  // namespace sfx
