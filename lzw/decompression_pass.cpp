#include "lzw/decompression_pass.h"

#include <cstring>

#include "lzw/lzw_decoder.h"
#include "platform/platform.h"

namespace sfx {

namespace {

constexpr std::size_t PathTextSize = 512;
constexpr std::uint8_t IntermediateMagic[4] = {'l', 'z', 'w', '\0'};

// Copies path into a text of PathTextSize bytes; false when it does not fit.
bool CopyPath(char* text, const char* path) {
    std::size_t length = strnlen(path, PathTextSize);
    if (length >= PathTextSize)
        return false;
    std::memcpy(text, path, length + 1);
    return true;
}

// The output is a file the pass creates and closes (outputPath) or, when outputPath is null,
// a stream the caller owns, which is flushed but left open.
bool RunPass(ExtractionJob& job, const char* intermediatePath, const char* destinationPath,
             std::FILE* borrowed) {
    auto* prefixCodes =
        static_cast<std::uint32_t*>(platform::Allocate(LzwDictionarySize * sizeof(std::uint32_t)));
    auto* suffixBytes = static_cast<std::uint8_t*>(platform::Allocate(LzwDictionarySize));
    auto finish = [&](bool result, ExtractStatus code) {
        platform::Release(prefixCodes);
        platform::Release(suffixBytes);
        if (!result)
            job.status = code;
        return result;
    };
    if (prefixCodes == nullptr || suffixBytes == nullptr)
        return finish(false, OutOfMemory);

    char inputPath[PathTextSize];
    char outputPath[PathTextSize];
    if (!CopyPath(inputPath, intermediatePath) ||
        (borrowed == nullptr && !CopyPath(outputPath, destinationPath))) {
        return finish(false, WriteFailed);
    }

    std::FILE* input = platform::OpenFile(inputPath, "rb");
    if (input == nullptr)
        return finish(false, WriteFailed);

    std::uint8_t magic[4];
    if (std::fread(magic, 1, 4, input) != 4 || std::memcmp(magic, IntermediateMagic, 4) != 0) {
        std::fclose(input);
        return finish(false, DecompressFailed);
    }

    std::FILE* output = borrowed != nullptr ? borrowed : platform::OpenFile(outputPath, "wb");
    if (output == nullptr) {
        std::fclose(input);
        return finish(false, WriteFailed);
    }

    LzwDecoder& decoder = TheLzwDecoder();
    decoder.SetDictionary(prefixCodes, suffixBytes);
    const bool decoded = decoder.Decode(input, output, job.lzwProgress);
    decoder.SetDictionary(nullptr, nullptr);
    std::fclose(input);
    if (borrowed != nullptr) {
        if (!decoded)
            return finish(false, DecompressFailed);
        // The caller's stream (a pipe) that can't take the bytes is a failed write.
        const bool flushed = std::fflush(output) == 0 && !std::ferror(output);
        return finish(flushed, WriteFailed);
    }
    // A destination that can't be flushed in full (a full disk) is not a decoded file.
    const bool closed = std::fclose(output) == 0;
    return finish(decoded && closed, DecompressFailed);
}

}  // namespace

bool DecompressionPass::Run(ExtractionJob& job, const char* intermediatePath,
                            const char* destinationPath) {
    return RunPass(job, intermediatePath, destinationPath, nullptr);
}

bool DecompressionPass::RunInto(ExtractionJob& job, const char* intermediatePath,
                                std::FILE* output) {
    return RunPass(job, intermediatePath, nullptr, output);
}

}  // namespace sfx
