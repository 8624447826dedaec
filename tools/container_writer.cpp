#include "tools/container_writer.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <new>

#include "cipher/blowfish.h"
#include "cipher/key.h"
#include "engine/container.h"
#include "platform/bytes.h"
#include "platform/files.h"
#include "platform/own_file.h"

namespace sfx {

namespace {

constexpr std::size_t ChunkSize = std::size_t{1} << 20;
constexpr std::uint64_t MaxPayloadSize = MaxContainerLength - ContainerHeaderSize;
constexpr std::size_t MaxPasswordLength = 255;
constexpr std::size_t MaxRawDescriptionLength = 255;
constexpr std::size_t MaxOutputPath = 4096;

std::string SystemError() {
    return std::strerror(errno);
}

// Encrypts whole 8-byte blocks in place under the cipher's current key.
void EncryptBlocks(std::uint8_t* bytes, std::size_t blockCount) {
    for (std::size_t i = 0; i < blockCount; ++i, bytes += 8) {
        std::uint32_t left = LoadLE32(bytes);
        std::uint32_t right = LoadLE32(bytes + 4);
        BlowfishCipher::EncryptBlock(left, right);
        StoreLE32(bytes, left);
        StoreLE32(bytes + 4, right);
    }
}

// Where the self-extracting file goes: an open file.
struct Sink {
    std::FILE* file = nullptr;
    std::uint64_t written = 0;

    bool Write(const std::uint8_t* bytes, std::size_t count) {
        if (count == 0) {
            return true;
        }
        if (std::fwrite(bytes, 1, count, file) != count) {
            return false;
        }
        written += count;
        return true;
    }

    // Overwrites `count` bytes written earlier at `offset`, then carries on at the end.
    bool Patch(std::uint64_t offset, const std::uint8_t* bytes, std::size_t count) {
        return platform::SeekFromEnd(file, static_cast<std::int64_t>(written - offset)) &&
               std::fwrite(bytes, 1, count, file) == count && platform::SeekFromEnd(file, 0);
    }
};

// Bytes to pack: a buffer, or an open file read in pieces.
struct Source {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::FILE* file = nullptr;
    const char* name = "";
};

// Hands the source to take(bytes, count) in pieces of at most ChunkSize bytes. False when
// reading fails (error set here) or take returns false (error set by take).
template <typename Take>
bool ForEachPiece(const Source& source, std::vector<std::uint8_t>& buffer, std::string& error,
                  Take take) {
    if (source.file == nullptr) {
        for (std::size_t done = 0; done < source.size;) {
            const std::size_t count = std::min(ChunkSize, source.size - done);
            if (!take(source.data + done, count)) {
                return false;
            }
            done += count;
        }
        return true;
    }
    buffer.resize(ChunkSize);
    for (;;) {
        const std::size_t count = std::fread(buffer.data(), 1, buffer.size(), source.file);
        if (count > 0 && !take(buffer.data(), count)) {
            return false;
        }
        if (count < buffer.size()) {
            if (std::ferror(source.file)) {
                error = std::string("cannot read ") + source.name + ": " + SystemError();
                return false;
            }
            return true;
        }
    }
}

// Writes bytes to the sink as they are. False with the reason in `error` when it fails.
bool WriteOut(Sink& sink, const std::uint8_t* bytes, std::size_t count, std::string& error) {
    if (!sink.Write(bytes, count)) {
        error = "cannot write the output: " + SystemError();
        return false;
    }
    return true;
}

// Sums, encrypts and writes the plain payload as it comes in. Whole blocks are encrypted;
// the last size mod 8 bytes are written in the clear by Finish.
struct PayloadWriter {
    Sink& sink;
    std::string& error;
    std::uint64_t size = 0;
    std::uint64_t checksum = 0;
    std::uint8_t block[8] = {};
    std::size_t blockFill = 0;
    std::vector<std::uint8_t> buffer;

    PayloadWriter(Sink& s, std::string& e) : sink(s), error(e), buffer(ChunkSize) {}

    bool Add(const std::uint8_t* bytes, std::size_t count) {
        if (count == 0) {
            return true;
        }
        if (count > MaxPayloadSize - size) {
            error = "the payload exceeds " + std::to_string(MaxPayloadSize) +
                    " bytes; a container must stay below 2 GiB";
            return false;
        }
        size += count;
        for (std::size_t i = 0; i < count; ++i) {
            checksum += bytes[i];
        }
        if (blockFill > 0) {
            const std::size_t take = std::min(count, sizeof block - blockFill);
            std::memcpy(block + blockFill, bytes, take);
            blockFill += take;
            bytes += take;
            count -= take;
            if (blockFill < sizeof block) {
                return true;
            }
            EncryptBlocks(block, 1);
            blockFill = 0;
            if (!Write(block, sizeof block)) {
                return false;
            }
        }
        while (count >= 8) {
            const std::size_t piece = std::min(count & ~std::size_t{7}, buffer.size());
            std::memcpy(buffer.data(), bytes, piece);
            EncryptBlocks(buffer.data(), piece / 8);
            if (!Write(buffer.data(), piece)) {
                return false;
            }
            bytes += piece;
            count -= piece;
        }
        std::memcpy(block, bytes, count);
        blockFill = count;
        return true;
    }

    bool Finish() { return Write(block, blockFill); }

    bool Write(const std::uint8_t* bytes, std::size_t count) {
        return WriteOut(sink, bytes, count, error);
    }
};

bool HasNul(const std::string& text) {
    return text.find('\0') != std::string::npos;
}

bool CheckOptions(const PackOptions& options, std::string& error) {
    if (options.password.size() > MaxPasswordLength || HasNul(options.password)) {
        error = "the password must be a text of at most 255 characters";
        return false;
    }
    if (options.passwordProtected && options.password.empty()) {
        error = "a password-protected container needs a password";
        return false;
    }
    if (options.riddle.size() > MaxRiddleLength || HasNul(options.riddle)) {
        error = "the riddle must be a text of at most 255 characters";
        return false;
    }
    if (options.rawDescription) {
        if (options.description.size() > MaxRawDescriptionLength) {
            error = "a raw description holds at most 255 bytes";
            return false;
        }
    } else if (options.description.size() > MaxDescriptionLength || HasNul(options.description)) {
        error = "the description must be a text of at most 254 characters";
        return false;
    }
    if (options.compressed && options.lzw.clearEvery < 0) {
        error = "clearEvery must not be negative";
        return false;
    }
    return true;
}

// Gives the cipher the key derived from the password (the fixed key when the container is
// not password-protected). False when no key can be derived.
bool SetKey(const PackOptions& options, std::string& error) {
    std::uint8_t key[256] = {};
    const int keyLength = DeriveKey(options.password.c_str(), options.passwordProtected, key);
    const bool derived = keyLength > 0 && keyLength <= 255;
    if (derived) {
        BlowfishCipher::SetKey(key, static_cast<std::int16_t>(keyLength));
    } else {
        error = "no key can be derived from this password";
    }
    Wipe(key, sizeof key);
    return derived;
}

// Hands the input to the payload: as it is, or when compressed, the intermediate stream's
// magic and then the codes of the LZW encoder as they come.
bool AddInput(PayloadWriter& payload, const Source& input, const PackOptions& options,
              std::vector<std::uint8_t>& buffer, std::string& error) {
    if (!options.compressed) {
        const auto add = [&](const std::uint8_t* bytes, std::size_t count) {
            return payload.Add(bytes, count);
        };
        return ForEachPiece(input, buffer, error, add);
    }
    LzwEncoder encoder(options.lzw);
    const auto drain = [&]() {
        std::vector<std::uint8_t>& codes = encoder.Output();
        const bool ok = payload.Add(codes.data(), codes.size());
        codes.clear();
        return ok;
    };
    const auto encode = [&](const std::uint8_t* bytes, std::size_t count) {
        encoder.Feed(bytes, count);
        return drain();
    };
    if (!payload.Add(LzwIntermediateMagic, sizeof LzwIntermediateMagic) ||
        !ForEachPiece(input, buffer, error, encode)) {
        return false;
    }
    encoder.Finish();
    return drain();
}

// Writes the trailer after the container: its length L, the description and the
// description's length N, which `descriptionLength` receives.
bool WriteTrailer(Sink& sink, std::uint32_t containerLength, const PackOptions& options,
                  std::uint8_t& descriptionLength, std::string& error) {
    std::uint8_t length[4];
    StoreLE32(length, containerLength);
    std::string description = options.description;
    if (!options.rawDescription && !description.empty()) {
        description.push_back('\0');
    }
    descriptionLength = static_cast<std::uint8_t>(description.size());
    return WriteOut(sink, length, sizeof length, error) &&
           WriteOut(sink, reinterpret_cast<const std::uint8_t*>(description.data()),
                    description.size(), error) &&
           WriteOut(sink, &descriptionLength, 1, error);
}

// The container header for the options and the plain payload's byte sum.
void EncodeHeader(const PackOptions& options, std::uint64_t checksum, std::uint8_t* headerBytes) {
    ContainerHeader header;
    header.passwordProtected = options.passwordProtected ? 1 : 0;
    header.compressed = options.compressed ? 1 : 0;
    header.reserved7 = 2;
    header.reserved8 = 0;
    std::memset(header.reserved9, 0, sizeof header.reserved9);
    header.checksum = checksum;
    std::memset(header.riddle, 0, sizeof header.riddle);
    std::memcpy(header.riddle, options.riddle.data(), options.riddle.size());
    header.Encode(headerBytes);
}

// Writes stub, container and trailer to the sink, under the cipher's current key.
bool PackKeyed(Sink& sink, const Source& stub, const Source& input, const PackOptions& options,
               std::string& error, PackResult* result) {
    std::vector<std::uint8_t> buffer;
    const auto writeOut = [&](const std::uint8_t* bytes, std::size_t count) {
        return WriteOut(sink, bytes, count, error);
    };
    if (!ForEachPiece(stub, buffer, error, writeOut)) {
        return false;
    }
    // The header's place; it is filled in once the payload's sum is known.
    const std::uint64_t headerOffset = sink.written;
    std::uint8_t headerBytes[ContainerHeaderSize] = {};
    if (!writeOut(headerBytes, sizeof headerBytes)) {
        return false;
    }

    PayloadWriter payload(sink, error);
    if (!AddInput(payload, input, options, buffer, error) || !payload.Finish()) {
        return false;
    }
    const auto containerLength = static_cast<std::uint32_t>(ContainerHeaderSize + payload.size);
    std::uint8_t descriptionLength = 0;
    if (!WriteTrailer(sink, containerLength, options, descriptionLength, error)) {
        return false;
    }
    EncodeHeader(options, payload.checksum, headerBytes);
    if (!sink.Patch(headerOffset, headerBytes, sizeof headerBytes)) {
        error = "cannot write the output: " + SystemError();
        return false;
    }

    if (result != nullptr) {
        result->stubSize = headerOffset;
        result->payloadSize = payload.size;
        result->checksum = payload.checksum;
        result->containerLength = containerLength;
        result->descriptionLength = descriptionLength;
        result->fileSize = sink.written;
    }
    return true;
}

// Keys the cipher, packs, and leaves no key schedule behind.
bool Pack(Sink& sink, const Source& stub, const Source& input, const PackOptions& options,
          std::string& error, PackResult* result) {
    if (!SetKey(options, error)) {
        return false;
    }
    const bool packed = PackKeyed(sink, stub, input, options, error, result);
    BlowfishCipher::Clear();
    return packed;
}

bool TooLargeUncompressed(const PackOptions& options, std::uint64_t size, std::string& error) {
    if (!options.compressed && size > MaxPayloadSize) {
        error = "the input has " + std::to_string(size) + " bytes; a container must stay below " +
                "2 GiB, so the file may have at most " + std::to_string(MaxPayloadSize);
        return true;
    }
    return false;
}

// Runs write(sink) on a new file beside outputPath and puts it in place of outputPath once
// it is complete; on failure the new file is removed and outputPath is left as it was.
template <typename Write>
bool WriteOutputFile(const std::string& outputPath, std::string& error, Write write) {
    char temporary[MaxOutputPath];
    std::FILE* file =
        outputPath.empty() || HasNul(outputPath)
            ? nullptr
            : platform::CreateUniqueSibling(outputPath.c_str(), temporary, sizeof temporary);
    if (file == nullptr) {
        error = "cannot create a file beside " + outputPath;
        return false;
    }
    // Written through the stream it was created with; the engine's own files are unbuffered.
    std::setvbuf(file, nullptr, _IOFBF, 1 << 16);
    Sink sink;
    sink.file = file;
    bool ok = false;
    try {
        ok = write(sink);
    } catch (const std::bad_alloc&) {
        error = "out of memory";
    } catch (const std::exception& failure) {
        error = failure.what();
    }
    if (std::fclose(file) != 0 && ok) {
        error = "cannot write the output: " + SystemError();
        ok = false;
    }
    if (ok && !platform::ReplaceFile(temporary, outputPath.c_str())) {
        error = "cannot replace " + outputPath + ": " + SystemError();
        ok = false;
    }
    if (!ok) {
        platform::RemoveFile(temporary);
    }
    return ok;
}

// Closes the file it holds on every return.
struct InputFile {
    std::FILE* file = nullptr;
    ~InputFile() {
        if (file != nullptr) {
            std::fclose(file);
        }
    }
};

// Runs one packing step, turning what the standard library throws into an error text.
template <typename Step>
bool Guarded(std::string& error, Step&& step) {
    try {
        return step();
    } catch (const std::bad_alloc&) {
        error = "out of memory";
        return false;
    } catch (const std::exception& failure) {
        error = failure.what();
        return false;
    }
}

}  // namespace

bool WriteSelfExtractor(const std::uint8_t* stub, std::size_t stubSize, const std::uint8_t* data,
                        std::size_t size, const std::string& outputPath, const PackOptions& options,
                        std::string& error, PackResult* result) {
    return Guarded(error, [&]() {
        if (!CheckOptions(options, error) || TooLargeUncompressed(options, size, error)) {
            return false;
        }
        const Source stubSource{stub, stubSize, nullptr, "the stub"};
        const Source input{data, size, nullptr, "the input"};
        return WriteOutputFile(outputPath, error, [&](Sink& sink) {
            return Pack(sink, stubSource, input, options, error, result);
        });
    });
}

bool PackSelfExtractor(const std::string& stubPath, const std::string& inputPath,
                       const std::string& outputPath, const PackOptions& options,
                       std::string& error, PackResult* result) {
    return Guarded(error, [&]() {
        if (!CheckOptions(options, error)) {
            return false;
        }
        InputFile stub;
        stub.file = platform::OpenFile(stubPath.c_str(), "rb");
        if (stub.file == nullptr) {
            error = "cannot open " + stubPath + ": " + SystemError();
            return false;
        }
        InputFile input;
        input.file = platform::OpenFile(inputPath.c_str(), "rb");
        if (input.file == nullptr) {
            error = "cannot open " + inputPath + ": " + SystemError();
            return false;
        }
        const std::int64_t inputSize = platform::FileLength(input.file);
        if (inputSize >= 0 && TooLargeUncompressed(options, inputSize, error)) {
            return false;
        }
        const Source stubSource{nullptr, 0, stub.file, stubPath.c_str()};
        const Source inputSource{nullptr, 0, input.file, inputPath.c_str()};
        return WriteOutputFile(outputPath, error, [&](Sink& sink) {
            return Pack(sink, stubSource, inputSource, options, error, result);
        });
    });
}

}  // namespace sfx
