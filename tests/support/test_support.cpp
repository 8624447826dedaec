#include "tests/support/test_support.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "lzw/segment_decoder.h"

namespace sfx::test {

namespace {
// Tests decode as unsfx does: in segments, on the threads the machine has.
const bool segmentDecodingUsed = (UseSegmentDecoding(), true);
}  // namespace

TempDir::TempDir(const std::filesystem::path& under) {
#ifdef _WIN32
    static std::mt19937 random(GetTickCount() ^ (GetCurrentProcessId() << 16));
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const std::filesystem::path candidate =
            under / ("sfxtest-" + std::to_string(random() % 1000000));
        if (CreateDirectoryA(candidate.string().c_str(), nullptr))
            path_ = candidate;
    }
    if (path_.empty())
        std::abort();
#else
    std::string pattern = (under / "sfxtest-XXXXXX").string();
    char* made = mkdtemp(pattern.data());
    if (made == nullptr)
        std::abort();
    path_ = made;
#endif
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::permissions(path_, std::filesystem::perms::owner_all,
                                 std::filesystem::perm_options::add, ignored);
    std::filesystem::remove_all(path_, ignored);
}

std::vector<std::string> TempDir::Entries() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path_)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::filesystem::path FastTempFolder() {
#ifndef _WIN32
    const char* set = std::getenv("TMPDIR");
    if ((set == nullptr || *set == '\0') && access("/dev/shm", W_OK) == 0)
        return "/dev/shm";
#endif
    return std::filesystem::temp_directory_path();
}

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool WriteBytes(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written;
}

Bytes BytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

std::string Snapshot(const std::string& path) {
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::symlink_status(path, error);
    if (!std::filesystem::exists(status))
        return "nothing";
    if (std::filesystem::is_symlink(status))
        return "link to " + std::filesystem::read_symlink(path, error).string();
    if (std::filesystem::is_directory(status))
        return "folder";
    if (!std::filesystem::is_regular_file(status))
        return "special file";  // a FIFO, a device or a socket, never opened here
#ifdef _WIN32
    const bool readOnly = (std::filesystem::perms::owner_write & status.permissions()) ==
                          std::filesystem::perms::none;
    const std::string kind = std::string("file") + (readOnly ? " read-only" : "");
#else
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return "nothing";
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    const std::string kind = "file " + std::string(mode) + " of " + std::to_string(info.st_uid) +
                             ":" + std::to_string(info.st_gid);
#endif
    const Bytes bytes = ReadBytes(path);
    return kind + ": " +
           std::string(bytes.begin(), bytes.begin() + std::min<std::size_t>(bytes.size(), 40));
}

Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
}

namespace {

constexpr std::size_t RandomPiece = std::size_t{4} << 20;

// Calls each(piece, count) for the bytes of RandomBytes(size, seed), in order, piece by piece;
// stops at the first false.
template <typename Each>
bool ForEachRandomPiece(std::uint64_t size, std::uint32_t seed, Each each) {
    std::mt19937 random(seed);
    Bytes piece(RandomPiece);
    for (std::uint64_t left = size; left > 0;) {
        const std::size_t count =
            static_cast<std::size_t>(std::min<std::uint64_t>(left, piece.size()));
        for (std::size_t i = 0; i < count; ++i) piece[i] = static_cast<std::uint8_t>(random());
        if (!each(piece.data(), count))
            return false;
        left -= count;
    }
    return true;
}

}  // namespace

bool WriteRandomFile(const std::string& path, std::uint64_t size, std::uint32_t seed) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr)
        return false;
    const bool written =
        ForEachRandomPiece(size, seed, [&](const std::uint8_t* bytes, std::size_t count) {
            return std::fwrite(bytes, 1, count, file) == count;
        });
    return std::fclose(file) == 0 && written;
}

bool SameAsRandomFile(const std::string& path, std::uint64_t size, std::uint32_t seed) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return false;
    Bytes read(RandomPiece);
    bool same = ForEachRandomPiece(size, seed, [&](const std::uint8_t* bytes, std::size_t count) {
        return std::fread(read.data(), 1, count, file) == count &&
               std::equal(bytes, bytes + count, read.data());
    });
    same = same && std::fgetc(file) == EOF;
    std::fclose(file);
    return same;
}

Bytes TextBytes(std::size_t size, std::uint32_t seed) {
    static const char* words[] = {"the ", "extractor ", "reads ", "a ",     "container ",
                                  "and ", "writes ",    "file ",  "data\n", "password ",
                                  "key ", "of ",        "LZW ",   "block ", "sum "};
    std::mt19937 random(seed);
    Bytes bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        const char* word = words[random() % 15];
        for (const char* c = word; *c && bytes.size() < size; ++c) bytes.push_back(*c);
    }
    return bytes;
}

Progress recordedProgress;
void RecordProgress(std::int32_t done, std::int32_t total) {
    recordedProgress.emplace_back(done, total);
}

int OpenDescriptorCount() {
    int count = 0;
#ifdef _WIN32
    // The runtime's descriptors: those that stand for a handle.
    for (int fd = 0; fd < 2048; ++fd) {
        if (_get_osfhandle(fd) != -1)
            ++count;
    }
    return count;
#else
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr)
        return -1;
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
    return count;
#endif
}

std::string BinPath(const std::string& program) {
    return std::string(SFX_BIN_DIR) + "/" + program;
}

#ifdef _WIN32
namespace {

// One argument as the runtime's command-line parser reads it back.
std::string Quoted(const std::string& argument) {
    if (!argument.empty() && argument.find_first_of(" \t\"") == std::string::npos)
        return argument;
    std::string quoted = "\"";
    std::size_t backslashes = 0;
    for (char c : argument) {
        if (c == '\\') {
            ++backslashes;
            continue;
        }
        quoted.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
        backslashes = 0;
        quoted.push_back(c);
    }
    quoted.append(2 * backslashes, '\\');
    return quoted + "\"";
}

HANDLE OpenInherited(const std::string& path, bool write) {
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    return CreateFileA(path.c_str(), write ? GENERIC_WRITE : GENERIC_READ, FILE_SHARE_READ,
                       &inherit, write ? CREATE_ALWAYS : OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                       nullptr);
}

}  // namespace
#endif

RunResult Run(const std::vector<std::string>& argv, const std::string& input) {
    TempDir scratch;
    const std::string inPath = scratch / "stdin";
    const std::string outPath = scratch / "stdout";
    const std::string errPath = scratch / "stderr";
    WriteBytes(inPath, BytesOf(input));
    RunResult result;
#ifdef _WIN32
    std::string commandLine;
    for (const auto& a : argv) commandLine += (commandLine.empty() ? "" : " ") + Quoted(a);
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = OpenInherited(inPath, false);
    startup.hStdOutput = OpenInherited(outPath, true);
    startup.hStdError = OpenInherited(errPath, true);
    PROCESS_INFORMATION process = {};
    if (CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                       &startup, &process)) {
        WaitForSingleObject(process.hProcess, INFINITE);
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        result.exitCode = static_cast<int>(code);
        CloseHandle(process.hThread);
        CloseHandle(process.hProcess);
    }
    CloseHandle(startup.hStdInput);
    CloseHandle(startup.hStdOutput);
    CloseHandle(startup.hStdError);
#else
    pid_t child = fork();
    if (child == 0) {
        int in = open(inPath.c_str(), O_RDONLY);
        int out = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        int err = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        ExecOrExit(argv);
    }
    result.exitCode = ExitStatusOf(child);
#endif
    auto out = ReadBytes(outPath);
    auto err = ReadBytes(errPath);
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    return result;
}

RunResult Unsfx(std::vector<std::string> arguments, const std::string& input) {
    arguments.insert(arguments.begin(), BinPath("unsfx"));
    return Run(arguments, input);
}

RunResult SfxPack(const TempDir& dir, const Bytes& content,
                  const std::vector<std::string>& options) {
    WriteBytes(dir / "stub", BytesOf("MZ stub"));
    WriteBytes(dir / "input", content);
    std::vector<std::string> argv = {BinPath("sfx-pack"), "--stub", dir / "stub",      "--input",
                                     dir / "input",       "-o",     dir / "packed.exe"};
    argv.insert(argv.end(), options.begin(), options.end());
    return Run(argv);
}

#ifndef _WIN32
void ExecOrExit(const std::vector<std::string>& argv) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execv(args[0], args.data());
    _exit(127);
}

int ExitStatusOf(int child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}
#endif

}  // namespace sfx::test
