// A whole extraction from an arbitrary file. Whatever the file holds: a status in
// {1, 2, 3, 4, 6, 7} or success, the destination as it was on failure, nothing left beside it
// but the intermediate file after a failed decompression, and no file left open.
#include "fuzz/fuzz_check.h"
#include "tests/support/extraction_check.h"

using namespace sfx::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    Check(WriteBytes(Scratch() / "source.exe", data, size), "the source is written");
    const Outcome outcome = CheckedExtract(Scratch());
    Check(outcome.broken.empty(), outcome.broken.c_str());
    return 0;
}
