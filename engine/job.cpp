#include "engine/job.h"

#include <cerrno>
#include <cstring>

#include "cipher/decryption_pass.h"
#include "engine/container.h"
#include "lzw/decompression_pass.h"
#include "platform/download_safety.h"
#include "platform/files.h"
#include "platform/path_text.h"
#include "platform/temporaries.h"

namespace sfx {

namespace {

constexpr char IntermediateSuffix[] = ".lzw";

bool ReadHeader(ExtractionJob& job, const char* sourcePath, ContainerHeader& header) {
    job.status = Ok;
    ExtractStatus failure = Ok;
    if (ReadContainerHeader(sourcePath, header, failure))
        return true;
    job.status = failure;
    return false;
}

// What a "wb" open of the destination would refuse, refused before anything is written.
bool Fail(ExtractionJob& job, ExtractStatus code) {
    job.status = code;
    return false;
}

// A write that failed, with the reason the system gave just now.
bool FailWrite(ExtractionJob& job) {
    if (job.writeError == 0)
        job.writeError = errno;
    return Fail(job, WriteFailed);
}

bool CheckDestination(ExtractionJob& job, const char* destinationPath, bool compressed) {
    // A compressed payload's stream may be kept beside the destination under ".lzw".
    const std::size_t limit = compressed ? MaxPathLength - 4 : MaxPathLength;
    const std::size_t length = platform::PathLength(destinationPath, MaxPathLength);
    if (length == 0 || length > limit)
        return Fail(job, WriteFailed);
    switch (platform::KindOf(destinationPath)) {
        case platform::PathKind::Missing:
            return true;
        case platform::PathKind::Directory:
        case platform::PathKind::Other:  // a FIFO, device or socket: `-o -` is for streams
            return Fail(job, WriteFailed);
        case platform::PathKind::Regular:
            if (job.replaceExisting && !platform::MayWrite(destinationPath))
                return Fail(job, WriteFailed);
            [[fallthrough]];
        case platform::PathKind::Link:
            // A link to a folder, FIFO, device or socket is never replaced.
            if (platform::LeadsElsewhere(destinationPath))
                return Fail(job, WriteFailed);
            if (job.replaceExisting)
                return true;
            job.destinationTaken = true;
            return Fail(job, WriteFailed);
    }
    return true;
}

// The user's file is staged in the destination's folder; when that folder takes no new file
// but the destination itself may be written, in the folder for temporary files, owner-only.
bool CreateStaging(platform::OwnFile& staging, const char* destinationPath) {
    if (staging.CreateFor(destinationPath))
        return true;
    char folder[platform::PathCapacity];
    return platform::KindOf(destinationPath) == platform::PathKind::Regular &&
           platform::TempFolder(folder, sizeof folder) && staging.CreateFor(folder, true);
}

bool Place(ExtractionJob& job, platform::OwnFile& staging, const char* destinationPath) {
    switch (platform::PlaceFile(staging, destinationPath, job.replaceExisting)) {
        case platform::Placement::Placed:
            return true;
        case platform::Placement::Taken:
            job.destinationTaken = true;
            return Fail(job, WriteFailed);
        case platform::Placement::Damaged:
            job.destinationDamaged = true;
            break;
        case platform::Placement::Failed:
            break;
    }
    return FailWrite(job);
}

// After a failed decoding the verified stream stays for the user: under the destination's
// name with ".lzw" when that is free, else under its own name.
void KeepIntermediate(ExtractionJob& job, platform::OwnFile& intermediate,
                      const char* destinationPath) {
    char preferred[platform::PathCapacity];
    const std::size_t length =
        strnlen(destinationPath, platform::PathCapacity - sizeof IntermediateSuffix);
    std::memcpy(preferred, destinationPath, length);
    std::memcpy(preferred + length, IntermediateSuffix, sizeof IntermediateSuffix);
    platform::KeepFile(intermediate, preferred);
    std::memcpy(job.keptPath, intermediate.path, sizeof job.keptPath);
}

std::size_t ReadDecrypted(void* payload, std::uint8_t* into, std::size_t capacity) {
    return static_cast<DecryptedPayload*>(payload)->Read(into, capacity);
}

// Decodes a compressed payload into `out` as the cipher yields it, in memory, the next piece
// decrypted while the decoder works on the one before. The whole payload is summed even
// when decoding stopped early: a failure of the decryption or a wrong sum is the status
// (decryptStatus set), else the decoder's, or WriteFailed when `out` refused the bytes.
bool DecodeDecrypted(ExtractionJob& job, const char* sourcePath, const char* password,
                     std::FILE* out) {
    DecryptedPayload payload;
    if (!payload.Open(job, sourcePath, password))
        return Fail(job, job.decryptStatus);
    LzwSource input;
    input.read = ReadDecrypted;
    input.context = &payload;
    input.length = payload.total;
    PassOutput output;
    output.stream = out;
    const bool decoded = DecompressionPass::RunFrom(job, input, output);
    const int writeError = errno;  // the decoder writes on this thread
    PassOutput none;
    if (!payload.Finish(none))
        return Fail(job, job.decryptStatus);
    // Decoded bytes that could not be written (a full disk, a closed pipe): a failed write.
    if (!decoded && job.status == DecompressFailed && std::ferror(out)) {
        job.writeError = writeError;
        return Fail(job, WriteFailed);
    }
    return decoded;
}

// After a failed decoding the verified stream is written once more, without progress, and
// kept for the user beside the destination, or in the folder for temporary files when the
// destination's folder takes no new file; nothing is kept when that fails.
void KeepVerifiedStream(ExtractionJob& job, const char* sourcePath, const char* password,
                        const char* destinationPath) {
    platform::OwnFile intermediate;
    char folder[platform::PathCapacity];
    if (!intermediate.CreateBeside(destinationPath) &&
        !(platform::TempFolder(folder, sizeof folder) && intermediate.CreateBeside(folder)))
        return;
    ExtractionJob quiet;
    if (!DecryptionPass::RunInto(quiet, sourcePath, intermediate.stream, password))
        return;
    KeepIntermediate(job, intermediate, destinationPath);
    platform::CarryDownloadMark(sourcePath, job.keptPath);
}

}  // namespace

bool ExtractionJob::Extract(const char* sourcePath, const char* destinationPath,
                            const char* password) {
    destinationTaken = false;
    destinationDamaged = false;
    writeError = 0;
    keptPath[0] = '\0';
    ContainerHeader header;
    if (!ReadHeader(*this, sourcePath, header))
        return false;
    const bool compressed = header.compressed != 0;
    if (!CheckDestination(*this, destinationPath, compressed))
        return false;

    // The file is this run's own and goes on every return but the one that places it.
    platform::OwnFile staging;
    if (!CreateStaging(staging, destinationPath))
        return FailWrite(*this);

    if (!compressed) {
        if (!DecryptionPass::RunInto(*this, sourcePath, staging.stream, password))
            return Fail(*this, decryptStatus);
    } else if (!DecodeDecrypted(*this, sourcePath, password, staging.stream)) {
        // A stream that could not be decoded stays for the user; a full disk keeps nothing.
        if (decryptStatus == Ok && status != WriteFailed)
            KeepVerifiedStream(*this, sourcePath, password, destinationPath);
        return false;
    }
    if (!Place(*this, staging, destinationPath))
        return false;
    // What came from the Internet stays marked as such: the payload was encrypted, so no
    // scanner has seen it yet.
    platform::CarryDownloadMark(sourcePath, destinationPath);
    return true;
}

bool ExtractionJob::Test(const char* sourcePath, const char* password) {
    // Everything an extraction checks, with the bytes going nowhere.
    std::FILE* sink = platform::OpenNullDevice();
    if (sink == nullptr)
        return Fail(*this, WriteFailed);
    const bool passed = ExtractToStream(sourcePath, sink, password);
    std::fclose(sink);
    return passed;
}

bool ExtractionJob::ExtractToStream(const char* sourcePath, std::FILE* out, const char* password) {
    writeError = 0;
    ContainerHeader header;
    if (!ReadHeader(*this, sourcePath, header))
        return false;

    if (header.compressed == 0) {
        if (!DecryptionPass::RunInto(*this, sourcePath, out, password))
            return Fail(*this, decryptStatus);
        return true;
    }

    return DecodeDecrypted(*this, sourcePath, password, out);
}

bool ExtractionJob::ReadRiddle(const char* sourcePath, char* riddleOut,
                               std::uint8_t* protectedOut) {
    ContainerHeader header;
    ExtractStatus failure = Ok;
    if (!ReadContainerHeader(sourcePath, header, failure)) {
        if (failure == DataDamaged)
            status = DataDamaged;
        return false;
    }
    const std::size_t length = strnlen(header.riddle, RiddleSize - 1);
    std::memcpy(riddleOut, header.riddle, length);
    riddleOut[length] = '\0';
    if (protectedOut != nullptr)
        *protectedOut = header.passwordProtected;
    return true;
}

}  // namespace sfx
