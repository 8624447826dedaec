#include "lzw/decompression_pass.h"

#include <cstring>

#include "lzw/lzw_dictionary.h"
#include "platform/files.h"
#include "platform/own_file.h"
#include "platform/worker.h"

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

bool Fail(ExtractionJob& job, ExtractStatus code, PassOutput& output) {
    output.Abandon();
    job.status = code;
    return false;
}

// Checks the magic, opens outputPath when there is one, decodes and finishes the output.
bool DecodeInto(ExtractionJob& job, LzwDictionary& dictionary, LzwSource& input, PassOutput& output,
                const char* outputPath) {
    std::uint8_t magic[4];
    std::size_t got = 0;
    for (std::size_t more = 1; got < 4 && more > 0; got += more)
        more = input.Read(magic + got, 4 - got);
    if (got != 4 || std::memcmp(magic, IntermediateMagic, 4) != 0)
        return Fail(job, DecompressFailed, output);

    if (outputPath != nullptr) {
        output.stream = platform::CreateNewFile(outputPath);
        output.owned = true;
        if (output.stream == nullptr)
            return Fail(job, WriteFailed, output);
    }

    LzwDecoder& decoder = TheLzwDecoder();
    decoder.SetDictionary(dictionary.prefixCodes, dictionary.suffixBytes);
    // A quarter of the processors is left to the threads that read and decrypt the input.
    const int processors = platform::HardwareThreads();
    const int threads = processors - processors / 4;
    const bool decoded =
        segmentDecoding != nullptr && threads > 1
            ? segmentDecoding(decoder, input, output.stream, job.lzwProgress, threads)
            : decoder.Decode(input, output.stream, job.lzwProgress);
    decoder.SetDictionary(nullptr, nullptr);
    // A file that can't be closed in full (a full disk) is not a decoded file; a caller's
    // stream (a pipe) that can't take the bytes is a failed write.
    const bool owned = output.owned;
    const bool stored = output.Finish();
    if (!decoded)
        return Fail(job, DecompressFailed, output);
    if (!stored)
        return Fail(job, owned ? DecompressFailed : WriteFailed, output);
    return true;
}

}  // namespace

SegmentDecoding segmentDecoding = nullptr;

bool DecompressionPass::Run(ExtractionJob& job, const char* intermediatePath,
                            const char* destinationPath) {
    PassOutput output;
    LzwDictionary dictionary;
    if (!dictionary.Allocated())
        return Fail(job, OutOfMemory, output);
    char inputPath[PathTextSize];
    char outputPath[PathTextSize];
    if (!CopyPath(inputPath, intermediatePath) || !CopyPath(outputPath, destinationPath))
        return Fail(job, WriteFailed, output);

    std::FILE* file = platform::OpenFile(inputPath, "rb");
    if (file == nullptr)
        return Fail(job, WriteFailed, output);
    LzwSource input;
    input.file = file;
    input.length = platform::FileLength(file);
    const bool decoded = DecodeInto(job, dictionary, input, output, outputPath);
    std::fclose(file);
    return decoded;
}

bool DecompressionPass::RunFrom(ExtractionJob& job, LzwSource& input, PassOutput& output) {
    LzwDictionary dictionary;
    if (!dictionary.Allocated())
        return Fail(job, OutOfMemory, output);
    return DecodeInto(job, dictionary, input, output, nullptr);
}

}  // namespace sfx
