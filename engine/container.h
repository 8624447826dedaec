// The container appended to an executable: trailer, header and the operations that read them.
//
// File layout, at the end of the executable:
//   header (280) | payload (L - 280) | L (4, LE) | description (N) | N (1)
// Everything is located from the end of the file.
#pragma once

#include <cstdint>
#include <cstdio>

#include "engine/status.h"

namespace sfx {

constexpr int ContainerHeaderSize = 280;
constexpr int RiddleSize = 256;
constexpr int DescriptionBufferSize = 256;

struct ContainerHeader {
    char magic[5] = {'Z', 'A', 'R', 'N', '\0'};
    std::uint8_t passwordProtected = 1;
    std::uint8_t compressed = 1;
    std::uint8_t reserved7 = 2;
    std::uint8_t reserved8 = 0;
    std::uint8_t reserved9[7] = {};
    std::uint64_t checksum = 0;
    char riddle[RiddleSize] = {};

    // Fills every field from the 280 bytes of a header as stored in the file.
    void Decode(const std::uint8_t* bytes);
    // The 280 bytes of this header as they are stored in the file.
    void Encode(std::uint8_t* bytes) const;
    // The magic test: "ZARN" followed by NUL.
    bool HasValidMagic() const;
};

// Where the container sits in the file.
struct ContainerPlacement {
    std::int64_t fileSize = 0;
    std::int64_t containerOffset = 0;    // P, the first header byte
    std::int32_t payloadSize = 0;        // L - 280
    std::int32_t descriptionLength = 0;  // N
};

// Reads and checks the header. ReadFailed when the file can't be opened, DataDamaged when
// the trailer does not fit the file or the magic test fails. The file is always closed.
bool ReadContainerHeader(const char* path, ContainerHeader& header, ExtractStatus& failure,
                         ContainerPlacement* placement = nullptr);

// As ReadContainerHeader, but on success leaves `file` open at the first payload byte; the
// caller closes it. On failure no file is left open.
bool OpenContainer(const char* path, ContainerHeader& header, std::FILE*& file,
                   std::int32_t& payloadSize, ExtractStatus& failure,
                   ContainerPlacement* placement = nullptr);

// The description text (the N bytes before the last byte) into textOut (>= 256 bytes).
// False, with textOut untouched, when the file can't be opened.
bool ReadDescription(const char* path, char* textOut);

}  // namespace sfx
