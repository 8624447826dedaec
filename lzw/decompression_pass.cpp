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

}  // namespace

bool DecompressionPass::Run(ExtractionJob& job, const char* intermediatePath,
                            const char* destinationPath) {
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
    if (!CopyPath(inputPath, intermediatePath) || !CopyPath(outputPath, destinationPath)) {
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

    std::FILE* output = platform::OpenFile(outputPath, "wb");
    if (output == nullptr) {
        std::fclose(input);
        return finish(false, WriteFailed);
    }

    LzwDecoder& decoder = TheLzwDecoder();
    decoder.SetDictionary(prefixCodes, suffixBytes);
    bool decoded = decoder.Decode(input, output, job.lzwProgress);
    std::fclose(input);
    // A destination that can't be flushed in full (a full disk) is not a decoded file.
    if (std::fclose(output) != 0)
        decoded = false;
    decoder.SetDictionary(nullptr, nullptr);
    return finish(decoded, DecompressFailed);
}

}  // namespace sfx
