// LzwDecoder::Decode on arbitrary code streams, against the plain reference decoder: the same
// result and the same bytes, success or failure, and no dictionary entry read that was not
// defined since the last start or clear. The stream is also decoded in segments on 2 threads
// (and on 8 for some inputs), which must give the serial decoder's result, bytes and progress
// calls.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "lzw/lzw_decoder.h"
#include "lzw/segment_decoder.h"
#include "tests/support/lzw_reference.h"

using namespace sfx;
using namespace sfx::fuzz;

namespace {

std::int64_t inputLength = 0;
std::int32_t lastFetch = 0;
bool ended = false;
std::vector<std::int32_t> calls;  // every progress call's first argument

void WatchProgress(std::int32_t done, std::int32_t total) {
    calls.push_back(done);
    Check(!ended, "nothing follows progress(0, 0)");
    if (done == 0 && total == 0) {
        ended = true;
        return;
    }
    Check(total == inputLength, "progress reports the input length");
    Check(done % 1024 == 0 && done == lastFetch + 1024, "progress every 1024th fetch");
    lastFetch = done;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = Scratch() / "stream";
    Check(WriteBytes(path, data, size), "the stream is written");
    const int descriptors = OpenDescriptorCount();

    // Fresh dictionary arrays of the exact size, filled so that reading an entry that was
    // never defined leads outside them, where the address sanitizer stops the run.
    auto* prefix = static_cast<std::uint32_t*>(std::malloc(LzwDictionarySize * 4));
    auto* suffix = static_cast<std::uint8_t*>(std::malloc(LzwDictionarySize));
    std::memset(prefix, 0x7F, LzwDictionarySize * 4);
    std::memset(suffix, 0xA5, LzwDictionarySize);

    std::FILE* input = std::fopen(path.c_str(), "rb");
    char* decoded = nullptr;
    std::size_t decodedSize = 0;
    std::FILE* output = open_memstream(&decoded, &decodedSize);
    Check(input != nullptr && output != nullptr, "the streams open");

    inputLength = static_cast<std::int64_t>(size);
    lastFetch = 0;
    ended = false;
    calls.clear();
    LzwDecoder& decoder = TheLzwDecoder();
    decoder.SetDictionary(prefix, suffix);
    const bool ok = decoder.Decode(input, output, WatchProgress);
    Check(ok == (decoder.status() == Ok), "the status matches the result");
    Check(ok || decoder.status() == DecompressFailed, "a failure is DecompressFailed");
    Check(ok == ended, "progress(0, 0) comes exactly on success");
    std::fclose(input);
    std::fclose(output);

    const std::vector<std::int32_t> serialCalls = calls;
    // Eight threads on one input in eight: starting and stopping threads is costly here.
    for (int threads : {2, 8}) {
        if (threads == 8 && size % 8 != 0)
            continue;
        input = std::fopen(path.c_str(), "rb");
        char* segmented = nullptr;
        std::size_t segmentedSize = 0;
        output = open_memstream(&segmented, &segmentedSize);
        Check(input != nullptr && output != nullptr, "the streams open again");
        LzwSource source;
        source.file = input;
        source.length = static_cast<std::int64_t>(size);
        lastFetch = 0;
        ended = false;
        calls.clear();
        const bool segmentedOk = DecodeInSegments(decoder, source, output, WatchProgress, threads);
        std::fclose(input);
        std::fclose(output);
        Check(segmentedOk == ok, "segments give the serial result");
        Check(decoder.status() == (ok ? Ok : DecompressFailed), "segments give the serial status");
        Check(calls == serialCalls, "segments give the serial progress calls");
        Check(segmentedSize == decodedSize &&
                  (decodedSize == 0 || std::memcmp(segmented, decoded, decodedSize) == 0),
              "segments give the serial bytes");
        std::free(segmented);
    }
    decoder.SetDictionary(nullptr, nullptr);

    const ReferenceResult reference = ReferenceDecode(Bytes(data, data + size));
    const Bytes& expected = reference.output;
    Check(ok == reference.ok, "the result agrees with the reference decoder");
    Check(decodedSize == expected.size() &&
              (decodedSize == 0 || std::memcmp(decoded, expected.data(), decodedSize) == 0),
          "the bytes agree with the reference decoder");
    std::free(decoded);
    std::free(prefix);
    std::free(suffix);
    Check(OpenDescriptorCount() == descriptors, "no file is left open");
    return 0;
}
