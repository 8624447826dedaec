// Builds self-extracting files: the extractor stub followed by a container that holds one
// user file.
//
//   stub | header (280) | payload (L - 280) | L (4, LE) | description (N) | N (1)
//
// The payload is the user file, or its intermediate LZW stream ("lzw" NUL and the code
// stream) when compressed; the header's checksum is the 64-bit byte sum of that plain
// payload. It is then encrypted with Blowfish in ECB mode, each 8-byte block as two
// little-endian halves, under the key the extractor derives from the password (the fixed
// key when the container is not password-protected); a final partial block stays in the
// clear.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "tools/lzw_encoder.h"

namespace sfx {

// The longest riddle and description the extractor shows in full.
inline constexpr std::size_t MaxRiddleLength = 255;
inline constexpr std::size_t MaxDescriptionLength = 254;
// L is read as a signed 32-bit number.
inline constexpr std::uint64_t MaxContainerLength = 0x7FFFFFFFu;

struct PackOptions {
    // 1 to 255 characters when passwordProtected; ignored (may be empty) otherwise.
    std::string password;
    bool passwordProtected = true;
    // Store the intermediate LZW stream instead of the file itself.
    bool compressed = false;
    LzwEncoderOptions lzw;
    // At most 255 characters; empty for no hint.
    std::string riddle;
    // At most 254 characters, stored with a NUL; empty writes no description (N = 0).
    std::string description;
    // Store `description` exactly as given, without an added NUL (0 to 255 bytes).
    bool rawDescription = false;
};

struct PackResult {
    std::uint64_t stubSize = 0;
    std::uint64_t payloadSize = 0;        // L - 280
    std::uint64_t checksum = 0;           // byte sum of the plain payload
    std::uint32_t containerLength = 0;    // L
    std::uint32_t descriptionLength = 0;  // N
    std::uint64_t fileSize = 0;           // the whole self-extracting file
};

// Writes the self-extracting file for `data` to outputPath.
bool WriteSelfExtractor(const std::uint8_t* stub, std::size_t stubSize, const std::uint8_t* data,
                        std::size_t size, const std::string& outputPath, const PackOptions& options,
                        std::string& error, PackResult* result = nullptr);

// Reads the stub and the user file from disk in pieces and writes the self-extracting file
// to outputPath. The output appears only when complete; an existing file there is replaced.
bool PackSelfExtractor(const std::string& stubPath, const std::string& inputPath,
                       const std::string& outputPath, const PackOptions& options,
                       std::string& error, PackResult* result = nullptr);

}  // namespace sfx
