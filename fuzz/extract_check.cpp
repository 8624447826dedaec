#include "fuzz/extract_check.h"

#include <cstdio>

#include "engine/job.h"

namespace sfx::fuzz {

void CheckedExtract(const std::string& source, const Expected* expected) {
    static const std::string destination = ScratchPath("out");
    static const std::string intermediate = ScratchPath("out.lzw");
    static const std::string sourceName = source.substr(source.rfind('/') + 1);
    static const std::uint8_t before[] = "what stood there before";
    WriteFile(destination, before, sizeof before);
    const int descriptors = OpenDescriptorCount();

    ExtractionJob job;
    const bool ok = job.Extract(source.c_str(), destination.c_str(), FuzzPassword);
    const ExtractStatus status = job.status;
    const std::vector<std::string> entries = ScratchEntries();
    const Bytes written = ReadFile(destination);
    Check(OpenDescriptorCount() == descriptors, "no file is left open");

    if (ok) {
        Check(status == Ok, "success leaves the status Ok");
        Check(entries == std::vector<std::string>{"out", sourceName},
              "success leaves the destination only");
    } else {
        Check(status == WriteFailed || status == ReadFailed || status == OutOfMemory ||
                  status == WrongPassword || status == DecompressFailed || status == DataDamaged,
              "a failure has a status in {1, 2, 3, 4, 6, 7}");
        Check(written == Bytes(before, before + sizeof before),
              "a failure leaves the destination as it was");
        if (status == DecompressFailed) {
            Check(entries == std::vector<std::string>{"out", "out.lzw", sourceName},
                  "a failed decompression leaves the intermediate file only");
        } else {
            Check(entries == std::vector<std::string>{"out", sourceName},
                  "a failure leaves nothing behind");
        }
    }
    if (expected != nullptr) {
        Check(ok == expected->ok, "the outcome is the expected one");
        if (ok)
            Check(written == expected->content, "the extracted file is the expected one");
    }
    std::remove(intermediate.c_str());
}

}  // namespace sfx::fuzz
