// A whole extraction from an arbitrary file. Whatever the file holds: a status in
// {1, 2, 3, 4, 6, 7} or success, the destination as it was on failure, nothing left beside it
// but the intermediate file after a failed decompression, and no file left open.

#include "fuzz/extract_check.h"
#include "fuzz/fuzz_support.h"

using namespace sfx::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string source = ScratchPath("source.exe");
    WriteFile(source, data, size);
    CheckedExtract(source, nullptr);
    return 0;
}
