// The two passes file to file, as the extractor runs them, with the page cache warm.
//
// usage: pass_bench PLAIN_CONTAINER COMPRESSED_CONTAINER PASSWORD WORK_DIR [benchmark flags]
//   decryption: DecryptionPass::Run on PLAIN_CONTAINER (an uncompressed container), MB/s of
//               payload written;
//   lzw:        DecompressionPass::Run on the intermediate file of COMPRESSED_CONTAINER
//               (made once by the decryption pass), MB/s of decoded output.
#include <benchmark/benchmark.h>
#include <sys/stat.h>

#include <cstdio>
#include <string>

#include "cipher/decryption_pass.h"
#include "engine/job.h"
#include "lzw/decompression_pass.h"

namespace {

std::string plainContainer;
std::string compressedContainer;
std::string password;
std::string workDir;

std::int64_t SizeOf(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 ? static_cast<std::int64_t>(info.st_size) : -1;
}

void BM_DecryptionPass(benchmark::State& state) {
    const std::string output = workDir + "/decrypted";
    std::int64_t bytes = 0;
    for (auto _ : state) {
        sfx::ExtractionJob job;
        if (!sfx::DecryptionPass::Run(job, plainContainer.c_str(), output.c_str(),
                                      password.c_str())) {
            state.SkipWithError("the decryption pass failed");
            break;
        }
        state.PauseTiming();
        bytes += SizeOf(output);
        std::remove(output.c_str());  // the extractor always writes a new file
        state.ResumeTiming();
    }
    state.SetBytesProcessed(bytes);
}

void BM_DecompressionPass(benchmark::State& state) {
    const std::string intermediate = workDir + "/intermediate.lzw";
    const std::string output = workDir + "/decoded";
    sfx::ExtractionJob job;
    std::remove(intermediate.c_str());  // the pass writes a new file
    if (!sfx::DecryptionPass::Run(job, compressedContainer.c_str(), intermediate.c_str(),
                                  password.c_str())) {
        state.SkipWithError("the intermediate file could not be made");
        return;
    }
    std::int64_t bytes = 0;
    for (auto _ : state) {
        if (!sfx::DecompressionPass::Run(job, intermediate.c_str(), output.c_str())) {
            state.SkipWithError("the decompression pass failed");
            break;
        }
        state.PauseTiming();
        bytes += SizeOf(output);
        std::remove(output.c_str());
        state.ResumeTiming();
    }
    state.SetBytesProcessed(bytes);
    std::remove(intermediate.c_str());
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (argc != 5) {
        std::fputs(
            "usage: pass_bench PLAIN_CONTAINER COMPRESSED_CONTAINER PASSWORD WORK_DIR "
            "[benchmark flags]\n",
            stderr);
        return 64;
    }
    plainContainer = argv[1];
    compressedContainer = argv[2];
    password = argv[3];
    workDir = argv[4];
    benchmark::RegisterBenchmark("decryption_pass", BM_DecryptionPass)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RegisterBenchmark("lzw_decompression_pass", BM_DecompressionPass)
        ->Unit(benchmark::kMillisecond)
        ->UseRealTime();
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
