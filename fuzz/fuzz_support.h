// Helpers shared by the fuzz targets: a scratch folder of the process's own, checks that
// abort on a broken promise, a container builder and a plain reference LZW decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sfx::fuzz {

using Bytes = std::vector<std::uint8_t>;

// Path of `name` inside a folder made for this process on first use (on a memory file system
// when there is one) and removed with its contents when the process exits.
std::string ScratchPath(const char* name);
// Names of the entries of the scratch folder, sorted.
std::vector<std::string> ScratchEntries();
void WriteFile(const std::string& path, const std::uint8_t* data, std::size_t size);
Bytes ReadFile(const std::string& path);
int OpenDescriptorCount();

// Reports a broken promise and aborts, which the fuzzer records as a finding.
[[noreturn]] void Broken(const char* what);
inline void Check(bool holds, const char* what) {
    if (!holds)
        Broken(what);
}

// A self-extracting file around `payload` (the user's file, or the intermediate stream when
// compressed) with the right checksum, encrypted under "secret" or the fixed key.
Bytes WrapPayload(const std::uint8_t* payload, std::size_t size, bool compressed,
                  bool passwordProtected);
constexpr char FuzzPassword[] = "secret";

// Decodes a bare LZW code stream the plain way, straight from the format's rules, with
// invalid codes and strings over 4000 bytes ending the run. `output` receives the bytes of
// every code decoded before the end or the failure.
bool ReferenceLzwDecode(const std::uint8_t* data, std::size_t size, Bytes& output);

}  // namespace sfx::fuzz
