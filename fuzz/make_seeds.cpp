// Writes the seed inputs of the LZW and payload fuzz targets into two folders:
//   make_fuzz_seeds LZW_FOLDER PAYLOAD_FOLDER
// The container seeds are made by sfx-pack itself (see CMakeLists.txt).
#include <cstdio>
#include <string>
#include <vector>

#include "tests/support/test_support.h"
#include "tools/lzw_encoder.h"

using namespace sfx::test;

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fputs("usage: make_fuzz_seeds LZW_FOLDER PAYLOAD_FOLDER\n", stderr);
        return 64;
    }
    const std::string lzw = argv[1];
    const std::string payload = argv[2];

    sfx::LzwEncoderOptions clearing;
    clearing.clearEvery = 40;
    struct Sample {
        const char* name;
        Bytes plain;
        sfx::LzwEncoderOptions options;
    };
    const std::vector<Sample> samples = {
        {"empty", {}, {}},
        {"one", {'x'}, {}},
        {"text", TextBytes(3000, 1), {}},
        {"noise", RandomBytes(700, 2), {}},
        {"run", Bytes(4500, 'a'), {}},  // codes up to the longest string
        {"clears", TextBytes(1500, 3), clearing},
        {"wide", RandomBytes(9000, 4), {}},   // reaches 14-bit codes
        {"full", RandomBytes(17000, 5), {}},  // fills the dictionary and clears
    };
    bool ok = true;
    for (const auto& sample : samples) {
        const Bytes stream =
            sfx::LzwEncode(sample.plain.data(), sample.plain.size(), sample.options);
        ok = ok && WriteBytes(lzw + "/" + sample.name, stream);

        const Bytes intermediate =
            sfx::LzwEncodeIntermediate(sample.plain.data(), sample.plain.size(), sample.options);
        for (std::uint8_t mode : {1, 3}) {  // compressed, unprotected and protected
            Bytes input = {mode};
            input.insert(input.end(), intermediate.begin(), intermediate.end());
            ok = ok && WriteBytes(payload + "/" + sample.name + "-" + std::to_string(mode), input);
        }
        if (sample.plain.size() < 5000) {
            Bytes input = {2};  // stored, protected
            input.insert(input.end(), sample.plain.begin(), sample.plain.end());
            ok = ok && WriteBytes(payload + "/" + sample.name + "-2", input);
        }
    }
    if (!ok) {
        std::fputs("make_fuzz_seeds: can't write the seeds\n", stderr);
        return 1;
    }
    return 0;
}
