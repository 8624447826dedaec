// The salvage reader on arbitrary files, damaged and cut containers above all: it never
// reads outside the file, writes only what it reports, writes nothing for a wrong password,
// calls a file intact only when the extraction agrees byte for byte, and leaves no file open.
#include <cstring>

#include "engine/job.h"
#include "engine/salvage.h"
#include "fuzz/fuzz_check.h"

using namespace sfx;
using namespace sfx::fuzz;

namespace {

std::int64_t SizeOf(std::FILE* file) {
    std::fseek(file, 0, SEEK_END);
    return std::ftell(file);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = Scratch() / "salvage.exe";
    static const std::string salvaged = Scratch() / "salvaged";
    static const std::string extracted = Scratch() / "extracted";
    Check(WriteBytes(path, data, size), "the file is written");
    const int descriptors = OpenDescriptorCount();

    std::FILE* out = std::fopen(salvaged.c_str(), "wb+");
    Check(out != nullptr, "the output opens");
    SalvageReport report;
    const bool done = Salvage(path.c_str(), "secret", out, report);
    const std::int64_t written = SizeOf(out);
    std::fclose(out);
    const SalvageSource& source = report.source;

    if (done) {
        Check(report.status == Ok || report.status == DataDamaged, "a salvage is Ok or damaged");
        Check(written == report.written, "the output holds what the report says");
        Check(source.containerOffset >= 0 && source.payloadSize >= 0 &&
                  source.containerOffset + ContainerHeaderSize + source.payloadSize <=
                      static_cast<std::int64_t>(size),
              "the container lies in the file");
        Check(std::memcmp(data + source.containerOffset, "ZARN", 5) == 0,
              "the header comes from the file");
        Check(report.blocks * 8 + report.droppedBytes <= source.payloadSize,
              "no more blocks than the payload holds");
        if (source.header.compressed == 0)
            Check(report.written == source.payloadSize - report.droppedBytes,
                  "a stored payload comes back whole but for a cut block");
    } else {
        Check(written == 0, "a failed salvage writes nothing");
        Check(report.status == WrongPassword || report.status == DataDamaged ||
                  report.status == ReadFailed,
              "a failure is a wrong password, no container, or a read");
    }
    if (done && report.status == Ok) {
        Check(source.found == SalvageFound::Trailer, "only a whole trailer is intact");
        std::FILE* stream = std::fopen(extracted.c_str(), "wb");
        Check(stream != nullptr, "the extraction's output opens");
        ExtractionJob job;
        const bool extractedToo = job.ExtractToStream(path.c_str(), stream, "secret");
        std::fclose(stream);
        Check(extractedToo, "an intact file extracts");
        Check(ReadBytes(extracted) == ReadBytes(salvaged), "and to the same bytes");
    }
    Check(OpenDescriptorCount() == descriptors, "no file is left open");
    return 0;
}
