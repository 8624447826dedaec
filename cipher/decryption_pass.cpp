#include "cipher/decryption_pass.h"

#include <algorithm>
#include <cstring>

#include "cipher/blowfish.h"
#include "cipher/byte_sum.h"
#include "engine/container.h"
#include "engine/write_behind.h"
#include "platform/platform.h"

namespace sfx {

namespace {

constexpr std::int32_t ProgressStep = 5000;
// A whole number of progress steps, so that every chunk starts on a progress point.
constexpr std::int32_t ChunkSize = 52 * ProgressStep;
static_assert(ProgressStep % 8 == 0 && ChunkSize % 8 == 0);

constexpr char FixedKey[] = "quib";

// The output is either a file the pass opens and closes itself (outputPath) or a stream the
// caller owns (borrowed), which is flushed but left open.
struct Output {
    const char* path = nullptr;
    std::FILE* stream = nullptr;
    bool borrowed = false;
};

bool Fail(ExtractionJob& job, ExtractStatus code, std::FILE* source, Output& output) {
    if (source != nullptr)
        std::fclose(source);
    if (output.stream != nullptr && !output.borrowed)
        std::fclose(output.stream);
    job.decryptStatus = code;
    return false;
}

bool RunPass(ExtractionJob& job, const char* sourcePath, Output output, const char* password);

}  // namespace

int DecryptionPass::DeriveKey(const char* password, bool passwordProtected, std::uint8_t* keyOut) {
    std::memset(keyOut, 0, 256);
    std::size_t length = 0;
    while (length < 255 && password[length] != '\0') ++length;
    std::memcpy(keyOut, password, length);
    if (passwordProtected) {
        for (std::size_t i = length; i < 56; ++i) keyOut[i] = static_cast<std::uint8_t>(i);
    } else {
        std::memcpy(keyOut, FixedKey, sizeof FixedKey);
    }
    int keyLength = 0;
    while (keyLength < 256 && keyOut[keyLength] != 0) ++keyLength;
    // An empty protected password fills in 0, 1, 2, ...: the key starts with a zero byte.
    return keyLength;
}

bool DecryptionPass::Run(ExtractionJob& job, const char* sourcePath, const char* outputPath,
                         const char* password) {
    Output output;
    output.path = outputPath;
    return RunPass(job, sourcePath, output, password);
}

bool DecryptionPass::RunInto(ExtractionJob& job, const char* sourcePath, std::FILE* output,
                             const char* password) {
    Output borrowed;
    borrowed.stream = output;
    borrowed.borrowed = true;
    return RunPass(job, sourcePath, borrowed, password);
}

namespace {

bool RunPass(ExtractionJob& job, const char* sourcePath, Output output, const char* password) {
    std::uint8_t key[256];
    job.decryptStatus = Ok;

    ContainerHeader header;
    std::FILE* source = nullptr;
    std::int32_t payloadSize = 0;
    ExtractStatus failure = Ok;
    if (!OpenContainer(sourcePath, header, source, payloadSize, failure)) {
        return Fail(job, failure, nullptr, output);
    }

    int keyLength = DecryptionPass::DeriveKey(password, header.passwordProtected != 0, key);
    if (keyLength == 0)
        return Fail(job, WrongPassword, source, output);

    if (!output.borrowed) {
        output.stream = platform::OpenFile(output.path, "wb");
        if (output.stream == nullptr)
            return Fail(job, WriteFailed, source, output);
        // Whole chunks go out: a stream buffer would only add a copy.
        std::setvbuf(output.stream, nullptr, _IONBF, 0);
    }
    std::FILE* const out = output.stream;

    BlowfishCipher::SetKey(key, static_cast<std::int16_t>(keyLength));
    std::memset(key, 0, sizeof key);

    // While one chunk is written out (by the worker, when there is more than one chunk),
    // the next is read and decrypted. Every chunk is read after the progress call for its
    // start, and its inner progress points are announced and it is queued for writing only
    // once the write before it has succeeded.
    static std::uint8_t buffers[2][ChunkSize];
    WriteBehind writer;
    writer.Begin(out, payloadSize > ChunkSize);
    int current = 0;
    const std::int32_t total = payloadSize;
    std::int32_t remaining = total;
    std::int32_t done = 0;
    std::uint64_t sum = 0;
    for (;;) {
        if (done % ProgressStep == 0)
            job.decryptProgress(done, total);
        if (remaining < 8)
            break;
        std::uint8_t* const buffer = buffers[current];
        const std::int32_t wanted = std::min(ChunkSize, remaining & ~7);
        const auto got = static_cast<std::int32_t>(std::fread(buffer, 1, wanted, source));
        const std::int32_t whole = got & ~7;
        BlowfishCipher::DecryptBlocksLE(buffer, static_cast<std::size_t>(whole) / 8);
        const std::uint64_t chunkSum = ByteSum(buffer, whole);
        if (!writer.Finish())
            return Fail(job, WriteFailed, source, output);
        // Progress points inside this chunk; the one at its end comes at the loop head.
        for (std::int32_t at = done + ProgressStep; at < done + whole; at += ProgressStep) {
            job.decryptProgress(at, total);
        }
        sum += chunkSum;
        writer.Start(buffer, whole);
        current ^= 1;
        done += whole;
        remaining -= whole;
        if (whole < wanted) {
            // The next block could not be read in full.
            if (!writer.Finish())
                return Fail(job, WriteFailed, source, output);
            if (done % ProgressStep == 0)
                job.decryptProgress(done, total);
            return Fail(job, ReadFailed, source, output);
        }
    }
    if (!writer.Finish())
        return Fail(job, WriteFailed, source, output);

    // The tail of 0 to 7 bytes is stored in the clear.
    std::uint8_t tail[8];
    if (remaining > 0) {
        if (std::fread(tail, 1, remaining, source) != static_cast<std::size_t>(remaining)) {
            return Fail(job, ReadFailed, source, output);
        }
        sum += ByteSum(tail, remaining);
        if (std::fwrite(tail, 1, remaining, out) != static_cast<std::size_t>(remaining)) {
            return Fail(job, WriteFailed, source, output);
        }
    }

    std::fclose(source);
    // A write that only fails when the buffer is flushed (a full disk) is a failed write.
    const bool flushed =
        output.borrowed ? std::fflush(out) == 0 && !std::ferror(out) : std::fclose(out) == 0;
    output.stream = nullptr;
    if (!flushed)
        return Fail(job, WriteFailed, nullptr, output);
    job.decryptProgress(0, 0);

    if (sum != header.checksum) {
        job.decryptStatus = WrongPassword;
        return false;
    }
    return true;
}

}  // namespace
}  // namespace sfx
