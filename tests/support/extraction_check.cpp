#include "tests/support/extraction_check.h"

#include <cstdio>
#include <vector>

#include "engine/job.h"

namespace sfx::test {

Outcome CheckedExtract(const TempDir& folder, const Expected& expected) {
    const std::string destination = folder / "out";
    const Bytes before = BytesOf("what stood there before");
    WriteBytes(destination, before);
    const int descriptors = OpenDescriptorCount();

    ExtractionJob job;
    const bool ok = job.Extract((folder / "source.exe").c_str(), destination.c_str(), "secret");
    const std::vector<std::string> entries = folder.Entries();
    const Bytes written = ReadBytes(destination);
    Outcome outcome;
    outcome.status = ok ? Ok : job.status;
    const auto check = [&](bool holds, const std::string& what) {
        if (!holds)
            outcome.broken += what + "\n";
    };
    check(OpenDescriptorCount() == descriptors, "no file is left open");

    using Names = std::vector<std::string>;
    if (ok) {
        check(job.status == Ok, "success leaves the status Ok");
        check(entries == Names{"out", "source.exe"}, "success leaves the destination only");
    } else {
        const int status = job.status;
        check(status == WriteFailed || status == ReadFailed || status == OutOfMemory ||
                  status == WrongPassword || status == DecompressFailed || status == DataDamaged,
              "a failure has a status in {1, 2, 3, 4, 6, 7}, not " + std::to_string(status));
        check(written == before, "a failure leaves the destination as it was");
        if (status == DecompressFailed) {
            check(entries == Names{"out", "out.lzw", "source.exe"},
                  "a failed decompression leaves the intermediate file only");
        } else {
            check(entries == Names{"out", "source.exe"}, "a failure leaves nothing behind");
        }
    }
    if (expected.ok.has_value())
        check(ok == *expected.ok, "the outcome is the expected one");
    if (ok && expected.content.has_value())
        check(written == *expected.content, "the extracted file is the expected one");
    std::remove((folder / "out.lzw").c_str());
    return outcome;
}

}  // namespace sfx::test
