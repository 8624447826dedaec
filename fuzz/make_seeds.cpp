// Writes the seed inputs of the LZW and payload fuzz targets into two folders:
//   make_fuzz_seeds LZW_FOLDER PAYLOAD_FOLDER
// The container seeds are made by sfx-pack itself (see CMakeLists.txt).
#include <cstdio>
#include <string>
#include <vector>

#include "tools/lzw_encoder.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

bool Write(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

Bytes Text(std::size_t size, std::uint32_t seed) {
    static const char* words[] = {"the ", "file ", "is ", "packed ", "and ", "sealed\n", "key "};
    Bytes bytes;
    while (bytes.size() < size) {
        seed = seed * 1103515245u + 12345u;
        for (const char* c = words[(seed >> 16) % 7]; *c != '\0' && bytes.size() < size; ++c)
            bytes.push_back(static_cast<std::uint8_t>(*c));
    }
    return bytes;
}

Bytes Noise(std::size_t size, std::uint32_t seed) {
    Bytes bytes(size);
    for (auto& b : bytes) {
        seed = seed * 1103515245u + 12345u;
        b = static_cast<std::uint8_t>(seed >> 16);
    }
    return bytes;
}

}  // namespace

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
        {"text", Text(3000, 1), {}},
        {"noise", Noise(700, 2), {}},
        {"run", Bytes(4500, 'a'), {}},  // codes up to the longest string
        {"clears", Text(1500, 3), clearing},
        {"wide", Noise(9000, 4), {}},   // reaches 14-bit codes
        {"full", Noise(17000, 5), {}},  // fills the dictionary and clears
    };
    bool ok = true;
    for (const auto& sample : samples) {
        const Bytes stream =
            sfx::LzwEncode(sample.plain.data(), sample.plain.size(), sample.options);
        ok = ok && Write(lzw + "/" + sample.name, stream);

        const Bytes intermediate =
            sfx::LzwEncodeIntermediate(sample.plain.data(), sample.plain.size(), sample.options);
        for (std::uint8_t mode : {1, 3}) {  // compressed, unprotected and protected
            Bytes input = {mode};
            input.insert(input.end(), intermediate.begin(), intermediate.end());
            ok = ok && Write(payload + "/" + sample.name + "-" + std::to_string(mode), input);
        }
        if (sample.plain.size() < 5000) {
            Bytes input = {2};  // stored, protected
            input.insert(input.end(), sample.plain.begin(), sample.plain.end());
            ok = ok && Write(payload + "/" + sample.name + "-2", input);
        }
    }
    if (!ok) {
        std::fputs("make_fuzz_seeds: can't write the seeds\n", stderr);
        return 1;
    }
    return 0;
}
