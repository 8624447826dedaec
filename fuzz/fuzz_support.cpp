#include "fuzz/fuzz_support.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "cipher/blowfish.h"
#include "cipher/key.h"
#include "engine/container.h"
#include "tests/lzw_reference.h"

namespace sfx::fuzz {

namespace {

std::string scratch;

void RemoveScratch() {
    for (const auto& name : ScratchEntries()) std::remove((scratch + "/" + name).c_str());
    rmdir(scratch.c_str());
}

const std::string& ScratchDir() {
    if (scratch.empty()) {
        const char* base = std::getenv("TMPDIR");
        struct stat info;
        if (base == nullptr || *base == '\0')
            base =
                stat("/dev/shm", &info) == 0 && access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string pattern = std::string(base) + "/sfxfuzz-XXXXXX";
        if (mkdtemp(pattern.data()) == nullptr)
            Broken("can't make a scratch folder");
        scratch = pattern;
        std::atexit(RemoveScratch);
    }
    return scratch;
}

}  // namespace

std::string ScratchPath(const char* name) {
    return ScratchDir() + "/" + name;
}

std::vector<std::string> ScratchEntries() {
    std::vector<std::string> names;
    DIR* dir = opendir(ScratchDir().c_str());
    if (dir == nullptr)
        Broken("can't list the scratch folder");
    while (dirent* entry = readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
            names.emplace_back(entry->d_name);
    }
    closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        Broken("can't create a scratch file");
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    if (std::fclose(file) != 0 || !written)
        Broken("can't write a scratch file");
}

Bytes ReadFile(const std::string& path) {
    Bytes bytes;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return bytes;
    std::uint8_t chunk[65536];
    std::size_t got;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    std::fclose(file);
    return bytes;
}

int OpenDescriptorCount() {
    int count = 0;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count;
}

void Broken(const char* what) {
    std::fprintf(stderr, "broken promise: %s\n", what);
    std::abort();
}

Bytes WrapPayload(const std::uint8_t* payload, std::size_t size, bool compressed,
                  bool passwordProtected) {
    ContainerHeader header;
    header.passwordProtected = passwordProtected ? 1 : 0;
    header.compressed = compressed ? 1 : 0;
    header.checksum = 0;
    for (std::size_t i = 0; i < size; ++i) header.checksum += payload[i];

    Bytes file = {'M', 'Z'};
    std::uint8_t headerBytes[ContainerHeaderSize];
    header.Encode(headerBytes);
    file.insert(file.end(), headerBytes, headerBytes + ContainerHeaderSize);

    std::uint8_t key[256];
    const int keyLength = DeriveKey(FuzzPassword, passwordProtected, key);
    BlowfishCipher::SetKey(key, static_cast<std::int16_t>(keyLength));
    const std::size_t whole = size / 8 * 8;
    for (std::size_t i = 0; i < whole; i += 8) {
        std::uint32_t half[2] = {};
        for (int b = 0; b < 8; ++b)
            half[b / 4] |= static_cast<std::uint32_t>(payload[i + b]) << (8 * (b % 4));
        BlowfishCipher::EncryptBlock(half[0], half[1]);
        for (int b = 0; b < 8; ++b)
            file.push_back(static_cast<std::uint8_t>(half[b / 4] >> (8 * (b % 4))));
    }
    file.insert(file.end(), payload + whole, payload + size);

    const auto length = static_cast<std::uint32_t>(ContainerHeaderSize + size);
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    file.push_back(0);  // no description
    return file;
}

bool ReferenceLzwDecode(const std::uint8_t* data, std::size_t size, Bytes& output) {
    test::ReferenceResult result =
        test::ReferenceDecode(Bytes(data, data + size), static_cast<std::int32_t>(size));
    output = std::move(result.output);
    return result.ok;
}

}  // namespace sfx::fuzz
