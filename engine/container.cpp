#include "engine/container.h"

#include <cstring>

#include "platform/bytes.h"
#include "platform/files.h"

namespace sfx {

namespace {

bool ReadExactly(std::FILE* file, void* buffer, std::size_t size) {
    return std::fread(buffer, 1, size, file) == size;
}

// Locates the container from the trailer and reads its header. On success `file` is
// positioned at the first payload byte. Any trailer that does not fit the file is
// DataDamaged, so that the defaults of a fresh header never pass for bytes from the file.
bool LocateAndReadHeader(std::FILE* file, ContainerHeader& header, ContainerPlacement& where,
                         ExtractStatus& failure) {
    failure = DataDamaged;
    std::int64_t size = platform::FileLength(file);
    if (size < 1)
        return false;

    std::uint8_t n = 0;
    if (!platform::SeekFromEnd(file, 1) || !ReadExactly(file, &n, 1))
        return false;

    std::uint8_t lengthBytes[4];
    if (5 + static_cast<std::int64_t>(n) > size)
        return false;
    if (!platform::SeekFromEnd(file, 5 + n) || !ReadExactly(file, lengthBytes, 4))
        return false;
    auto length = static_cast<std::int32_t>(LoadLE32(lengthBytes));
    if (length < ContainerHeaderSize)
        return false;
    std::int64_t distance = 5 + static_cast<std::int64_t>(n) + length;
    if (distance > size)
        return false;

    std::uint8_t bytes[ContainerHeaderSize];
    if (!platform::SeekFromEnd(file, distance) || !ReadExactly(file, bytes, sizeof bytes)) {
        return false;
    }
    ContainerHeader read;
    read.Decode(bytes);
    if (!read.HasValidMagic())
        return false;

    header = read;
    where.fileSize = size;
    where.containerOffset = size - distance;
    where.payloadSize = length - ContainerHeaderSize;
    where.descriptionLength = n;
    failure = Ok;
    return true;
}

}  // namespace

void ContainerHeader::Decode(const std::uint8_t* bytes) {
    std::memcpy(magic, bytes, 5);
    passwordProtected = bytes[5];
    compressed = bytes[6];
    reserved7 = bytes[7];
    reserved8 = bytes[8];
    std::memcpy(reserved9, bytes + 9, 7);
    checksum = static_cast<std::uint64_t>(LoadLE32(bytes + 16)) |
               static_cast<std::uint64_t>(LoadLE32(bytes + 20)) << 32;
    std::memcpy(riddle, bytes + 24, RiddleSize);
}

void ContainerHeader::Encode(std::uint8_t* bytes) const {
    std::memcpy(bytes, magic, 5);
    bytes[5] = passwordProtected;
    bytes[6] = compressed;
    bytes[7] = reserved7;
    bytes[8] = reserved8;
    std::memcpy(bytes + 9, reserved9, 7);
    StoreLE32(bytes + 16, static_cast<std::uint32_t>(checksum));
    StoreLE32(bytes + 20, static_cast<std::uint32_t>(checksum >> 32));
    std::memcpy(bytes + 24, riddle, RiddleSize);
}

bool ContainerHeader::HasValidMagic() const {
    return std::memcmp(magic, "ZARN", 5) == 0;
}

bool ReadContainerHeader(const char* path, ContainerHeader& header, ExtractStatus& failure,
                         ContainerPlacement* placement) {
    std::FILE* file = platform::OpenFile(path, "rb");
    if (file == nullptr) {
        failure = ReadFailed;
        return false;
    }
    ContainerPlacement where;
    bool found = LocateAndReadHeader(file, header, where, failure);
    std::fclose(file);
    if (found && placement != nullptr)
        *placement = where;
    return found;
}

bool OpenContainer(const char* path, ContainerHeader& header, std::FILE*& file,
                   std::int32_t& payloadSize, ExtractStatus& failure,
                   ContainerPlacement* placement) {
    std::FILE* opened = platform::OpenFile(path, "rb");
    if (opened == nullptr) {
        failure = ReadFailed;
        return false;
    }
    ContainerPlacement where;
    if (!LocateAndReadHeader(opened, header, where, failure)) {
        std::fclose(opened);
        return false;
    }
    file = opened;
    payloadSize = where.payloadSize;
    if (placement != nullptr)
        *placement = where;
    return true;
}

bool ReadDescription(const char* path, char* textOut) {
    std::FILE* file = platform::OpenFile(path, "rb");
    if (file == nullptr)
        return false;
    char text[DescriptionBufferSize];
    std::size_t got = 0;
    std::uint8_t n = 0;
    std::int64_t size = platform::FileLength(file);
    if (size >= 1 && platform::SeekFromEnd(file, 1) && ReadExactly(file, &n, 1) &&
        static_cast<std::int64_t>(n) + 1 <= size && platform::SeekFromEnd(file, n + 1)) {
        got = std::fread(text, 1, n, file);
    }
    text[got] = '\0';
    std::fclose(file);
    std::memcpy(textOut, text, got + 1);
    return true;
}

}  // namespace sfx
