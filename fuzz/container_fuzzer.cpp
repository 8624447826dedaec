// The container readers on arbitrary files: they agree with one another, never read outside
// the file, keep texts bounded and leave no file open.
#include <cstring>

#include "engine/container.h"
#include "engine/job.h"
#include "fuzz/fuzz_check.h"

using namespace sfx;
using namespace sfx::fuzz;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path = Scratch() / "container.exe";
    Check(WriteBytes(path, data, size), "the file is written");
    const int descriptors = OpenDescriptorCount();

    ContainerHeader header;
    ContainerPlacement where;
    ExtractStatus failure = Ok;
    const bool found = ReadContainerHeader(path.c_str(), header, failure, &where);
    if (found) {
        Check(failure == Ok && header.HasValidMagic(), "a found header passes the magic test");
        const std::int64_t n = data[size - 1];
        Check(where.descriptionLength == n, "N is the last byte");
        Check(where.payloadSize >= 0 && where.containerOffset >= 0, "the container fits");
        Check(where.containerOffset + ContainerHeaderSize + where.payloadSize + 4 + n + 1 ==
                  static_cast<std::int64_t>(size),
              "the pieces add up to the file");
        Check(std::memcmp(data + where.containerOffset, "ZARN", 5) == 0,
              "the header comes from the file");
    } else {
        Check(failure == DataDamaged, "a file that opens but holds no container is damaged");
    }

    ContainerHeader opened;
    std::FILE* file = nullptr;
    std::int32_t payloadSize = -1;
    failure = Ok;
    const bool open = OpenContainer(path.c_str(), opened, file, payloadSize, failure);
    Check(open == found, "OpenContainer agrees with ReadContainerHeader");
    if (open) {
        Check(payloadSize == where.payloadSize, "the payload sizes agree");
        Check(std::ftell(file) == where.containerOffset + ContainerHeaderSize,
              "the file stands at the first payload byte");
        std::fclose(file);
    } else {
        Check(file == nullptr && failure == DataDamaged, "a failed open leaves no file");
    }

    ExtractionJob job;
    char riddle[RiddleSize + 1];
    std::memset(riddle, 0x5A, sizeof riddle);
    std::uint8_t passwordProtected = 0x5A;
    const bool hint = job.ReadRiddle(path.c_str(), riddle, &passwordProtected);
    Check(hint == found, "ReadRiddle agrees with ReadContainerHeader");
    if (hint) {
        Check(riddle[RiddleSize] == 0x5A, "the riddle stays within 256 bytes");
        Check(std::strlen(riddle) < RiddleSize, "the riddle is terminated");
        Check(std::strncmp(riddle, header.riddle, RiddleSize - 1) == 0, "the riddle is read");
        Check(passwordProtected == header.passwordProtected, "the flag is read");
    } else {
        Check(riddle[0] == 0x5A && passwordProtected == 0x5A, "a failure touches no output");
        Check(job.status == DataDamaged, "a failure is DataDamaged");
    }

    char text[DescriptionBufferSize + 1];
    std::memset(text, 0x5A, sizeof text);
    Check(ReadDescription(path.c_str(), text), "an existing file has a description");
    Check(text[DescriptionBufferSize] == 0x5A, "the description stays within 256 bytes");
    const std::size_t n = size == 0 ? 0 : data[size - 1];
    if (size >= n + 1 && n > 0) {
        Check(std::strncmp(text, reinterpret_cast<const char*>(data + size - 1 - n), n) == 0,
              "the description is the N bytes before the last");
        Check(std::strlen(text) <= n, "the description is at most N bytes");
    } else {
        Check(text[0] == '\0', "no description is empty");
    }

    Check(OpenDescriptorCount() == descriptors, "no file is left open");
    return 0;
}
