#include "engine/job.h"

#include <cstring>

#include "cipher/decryption_pass.h"
#include "engine/container.h"
#include "lzw/decompression_pass.h"
#include "platform/platform.h"

namespace sfx {

namespace {

constexpr std::size_t WorkPathSize = 512;
constexpr char IntermediateSuffix[] = ".lzw";

// A new empty file for an intermediate stream that nobody is meant to keep: in the folder
// for temporary files, else beside the source.
bool CreateScratchFile(const char* sourcePath, char* pathOut, std::size_t capacity) {
    char folder[WorkPathSize];
    if (platform::TempFolder(folder, sizeof folder) &&
        platform::CreateUniqueSibling(folder, pathOut, capacity)) {
        return true;
    }
    return platform::CreateUniqueSibling(sourcePath, pathOut, capacity);
}

}  // namespace

bool ExtractionJob::Extract(const char* sourcePath, const char* destinationPath,
                            const char* password) {
    status = Ok;

    ContainerHeader header;
    ExtractStatus failure = Ok;
    if (!ReadContainerHeader(sourcePath, header, failure)) {
        status = failure;
        return false;
    }
    const bool compressed = header.compressed != 0;

    // The destination must leave room for ".lzw" within the path limit when compressed.
    const std::size_t limit = compressed ? MaxPathLength - 4 : MaxPathLength;
    const std::size_t length = strnlen(destinationPath, MaxPathLength + 1);
    if (length == 0 || length > limit || platform::IsDirectory(destinationPath)) {
        status = WriteFailed;
        return false;
    }

    // The user's file is written beside the destination under a name of its own and moved
    // onto the destination only once it is verified, so a failed attempt never harms what
    // stood there before.
    char staging[WorkPathSize];

    if (!compressed) {
        if (!platform::CreateUniqueSibling(destinationPath, staging, sizeof staging)) {
            status = WriteFailed;
            return false;
        }
        if (!DecryptionPass::Run(*this, sourcePath, staging, password)) {
            status = decryptStatus;
            platform::RemoveFile(staging);
            return false;
        }
        if (!platform::ReplaceFile(staging, destinationPath)) {
            platform::RemoveFile(staging);
            status = WriteFailed;
            return false;
        }
        return true;
    }

    char intermediate[WorkPathSize];
    std::memcpy(intermediate, destinationPath, length);
    std::memcpy(intermediate + length, IntermediateSuffix, sizeof IntermediateSuffix);
    // Writing the intermediate file must not empty the very file being read.
    if (platform::SameFile(intermediate, sourcePath)) {
        status = WriteFailed;
        return false;
    }

    // Until the run ends the intermediate file goes if the process is interrupted.
    platform::TrackTemporary(intermediate);
    if (!DecryptionPass::Run(*this, sourcePath, intermediate, password)) {
        status = decryptStatus;
        platform::RemoveFile(intermediate);
        return false;
    }
    // After a failed decompression the verified intermediate file stays on disk.
    if (!platform::CreateUniqueSibling(destinationPath, staging, sizeof staging)) {
        platform::UntrackTemporary(intermediate);
        status = WriteFailed;
        return false;
    }
    if (!DecompressionPass::Run(*this, intermediate, staging)) {
        platform::UntrackTemporary(intermediate);
        platform::RemoveFile(staging);
        return false;
    }
    if (!platform::ReplaceFile(staging, destinationPath)) {
        platform::UntrackTemporary(intermediate);
        platform::RemoveFile(staging);
        status = WriteFailed;
        return false;
    }
    platform::RemoveFile(intermediate);
    return true;
}

bool ExtractionJob::Test(const char* sourcePath, const char* password) {
    // Everything an extraction checks, with the bytes going nowhere.
    std::FILE* sink = platform::OpenFile(platform::NullDevicePath(), "wb");
    if (sink == nullptr) {
        status = WriteFailed;
        return false;
    }
    const bool passed = ExtractToStream(sourcePath, sink, password);
    std::fclose(sink);
    return passed;
}

bool ExtractionJob::ExtractToStream(const char* sourcePath, std::FILE* out, const char* password) {
    status = Ok;

    ContainerHeader header;
    ExtractStatus failure = Ok;
    if (!ReadContainerHeader(sourcePath, header, failure)) {
        status = failure;
        return false;
    }

    if (header.compressed == 0) {
        const bool passed = DecryptionPass::RunInto(*this, sourcePath, out, password);
        if (!passed)
            status = decryptStatus;
        return passed;
    }

    char intermediate[WorkPathSize];
    if (!CreateScratchFile(sourcePath, intermediate, sizeof intermediate)) {
        status = WriteFailed;
        return false;
    }
    bool passed = DecryptionPass::Run(*this, sourcePath, intermediate, password);
    if (!passed)
        status = decryptStatus;
    else
        passed = DecompressionPass::RunInto(*this, intermediate, out);
    platform::RemoveFile(intermediate);
    return passed;
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
