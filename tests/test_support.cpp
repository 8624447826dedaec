#include "tests/test_support.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <dirent.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>

#include "cipher/blowfish.h"
#include "cipher/key.h"
#include "engine/container.h"
#include "tools/lzw_encoder.h"

namespace sfx::test {

TempDir::TempDir() {
#ifdef _WIN32
    static std::mt19937 random(GetTickCount() ^ (GetCurrentProcessId() << 16));
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
        const std::filesystem::path candidate = std::filesystem::temp_directory_path() /
                                                ("sfxtest-" + std::to_string(random() % 1000000));
        if (CreateDirectoryA(candidate.string().c_str(), nullptr))
            path_ = candidate;
    }
    if (path_.empty())
        std::abort();
#else
    std::string pattern = (std::filesystem::temp_directory_path() / "sfxtest-XXXXXX").string();
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

Bytes ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()),
              static_cast<std::streamsize>(bytes.size()));
}

Bytes BytesOf(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes RandomBytes(std::size_t size, std::uint32_t seed) {
    std::mt19937 random(seed);
    Bytes bytes(size);
    for (auto& b : bytes) b = static_cast<std::uint8_t>(random());
    return bytes;
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

std::uint64_t ByteSum(const Bytes& bytes) {
    std::uint64_t sum = 0;
    for (auto b : bytes) sum += b;
    return sum;
}

Bytes Intermediate(const Bytes& plain) {
    return LzwEncodeIntermediate(plain.data(), plain.size());
}

Bytes MakeContainer(const Bytes& payload, const ContainerSpec& spec) {
    ContainerHeader header;
    header.passwordProtected = spec.passwordProtected ? 1 : 0;
    header.compressed = spec.compressed ? 1 : 0;
    header.checksum = spec.checksum.value_or(ByteSum(payload));
    std::memcpy(header.riddle, spec.riddle.data(), std::min<std::size_t>(spec.riddle.size(), 256));

    Bytes file = spec.stub;
    std::uint8_t headerBytes[ContainerHeaderSize];
    header.Encode(headerBytes);
    file.insert(file.end(), headerBytes, headerBytes + ContainerHeaderSize);

    std::uint8_t key[256];
    int keyLength = DeriveKey(spec.password.c_str(), spec.passwordProtected, key);
    if (keyLength > 0)
        BlowfishCipher::SetKey(key, static_cast<std::int16_t>(keyLength));
    std::size_t whole = payload.size() / 8 * 8;
    for (std::size_t i = 0; i < whole; i += 8) {
        std::uint32_t halves[2];
        std::memcpy(halves, payload.data() + i, 8);  // the tests run on little-endian hosts
        BlowfishCipher::EncryptBlock(halves[0], halves[1]);
        const auto* out = reinterpret_cast<const std::uint8_t*>(halves);
        file.insert(file.end(), out, out + 8);
    }
    file.insert(file.end(), payload.begin() + static_cast<std::ptrdiff_t>(whole), payload.end());

    const auto length = static_cast<std::uint32_t>(ContainerHeaderSize + payload.size());
    for (int i = 0; i < 4; ++i) file.push_back(static_cast<std::uint8_t>(length >> (8 * i)));
    file.insert(file.end(), spec.description.begin(), spec.description.end());
    file.push_back(static_cast<std::uint8_t>(spec.description.size()));
    return file;
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
        std::vector<char*> args;
        for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
        args.push_back(nullptr);
        execv(args[0], args.data());
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
#endif
    auto out = ReadBytes(outPath);
    auto err = ReadBytes(errPath);
    result.out.assign(out.begin(), out.end());
    result.err.assign(err.begin(), err.end());
    return result;
}

}  // namespace sfx::test
