// Helpers shared by the tests and the fuzz targets: scratch folders and files, processes,
// progress records and hand-made containers.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace sfx::test {

using Bytes = std::vector<std::uint8_t>;

// A fresh folder under `under` (by default the system's temporary folder), removed with
// everything in it.
class TempDir {
  public:
    explicit TempDir(const std::filesystem::path& under = std::filesystem::temp_directory_path());
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return path_; }
    std::string operator/(const std::string& name) const { return (path_ / name).string(); }
    // Names of the entries in the folder, sorted.
    std::vector<std::string> Entries() const;

  private:
    std::filesystem::path path_;
};

// The folder for scratch files that are written again and again: TMPDIR when set, else
// /dev/shm (memory) when it can be written, else the system's temporary folder.
std::filesystem::path FastTempFolder();

Bytes ReadBytes(const std::string& path);
bool WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size);
inline bool WriteBytes(const std::string& path, const Bytes& bytes) {
    return WriteBytes(path, bytes.data(), bytes.size());
}
Bytes BytesOf(const std::string& text);
// What stands at a path, told without following a link or opening a FIFO: its kind, and for
// a file its permission bits, owner and first bytes; "nothing" when nothing stands there.
std::string Snapshot(const std::string& path);
Bytes RandomBytes(std::size_t size, std::uint32_t seed);
// The bytes of RandomBytes(size, seed) written to a file, and compared with one, a few MiB at
// a time: large contents never sit in memory (a 32-bit test program has 2 GiB of addresses).
bool WriteRandomFile(const std::string& path, std::uint64_t size, std::uint32_t seed);
bool SameAsRandomFile(const std::string& path, std::uint64_t size, std::uint32_t seed);
// Text-like bytes that compress well but not trivially.
Bytes TextBytes(std::size_t size, std::uint32_t seed);

// Progress calls as (done, total), and a callback that records them in `recordedProgress`.
using Progress = std::vector<std::pair<std::int32_t, std::int32_t>>;
extern Progress recordedProgress;
void RecordProgress(std::int32_t done, std::int32_t total);

struct ContainerSpec {
    std::string password = "secret";
    bool passwordProtected = true;
    bool compressed = false;  // the payload given is then the intermediate stream
    std::string riddle{};
    Bytes description{};                      // stored as given: N = its size, no NUL added
    std::optional<std::uint64_t> checksum{};  // default: the payload's byte sum
    Bytes stub = BytesOf("MZ-stub-bytes");
};

// A self-extracting file made without the packer: stub, header, encrypted payload,
// trailer. `payload` is the plain payload (the user's file or the intermediate stream).
Bytes MakeContainer(const Bytes& payload, const ContainerSpec& spec = {});
std::uint64_t ByteSum(const Bytes& bytes);
// The payload packed as the intermediate file ("lzw" NUL + code stream).
Bytes Intermediate(const Bytes& plain);

// Number of open file descriptors of this process.
int OpenDescriptorCount();

// Path of a program built into the bin folder.
std::string BinPath(const std::string& program);

struct RunResult {
    int exitCode = -1;
    std::string out;
    std::string err;
};
// Runs a program with arguments; `input` goes to its standard input.
RunResult Run(const std::vector<std::string>& argv, const std::string& input = "");
// Runs the built unsfx with `arguments`.
RunResult Unsfx(std::vector<std::string> arguments, const std::string& input = "");
// Runs the built sfx-pack on `content` (written to dir/input) behind a small stub (dir/stub)
// into dir/packed.exe, with `options`.
RunResult SfxPack(const TempDir& dir, const Bytes& content,
                  const std::vector<std::string>& options);

#ifndef _WIN32
// In a child process: runs `argv` (the program's path first) in its place, or ends with 127.
[[noreturn]] void ExecOrExit(const std::vector<std::string>& argv);
// Waits for the child process: its exit status, or 128 + the signal that ended it.
int ExitStatusOf(int child);
#endif

// setenv and unsetenv, also where the runtime lacks them.
inline void SetEnv(const char* name, const char* value, int = 1) {
#ifdef _WIN32
    _putenv_s(name, value);
#else
    setenv(name, value, 1);
#endif
}
inline void UnsetEnv(const char* name) {
#ifdef _WIN32
    _putenv_s(name, "");
#else
    unsetenv(name);
#endif
}

}  // namespace sfx::test
