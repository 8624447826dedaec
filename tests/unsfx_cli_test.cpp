// End-to-end: packs files with sfx-pack and extracts them with unsfx in real processes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <variant>

#include "engine/status.h"
#include "tests/support/test_support.h"

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>
#endif

namespace sfx {
namespace {

using namespace test;

// The tests choose the password sources themselves.
class ClearPasswordVariable : public ::testing::Environment {
  public:
    void SetUp() override { UnsetEnv("UNSFX_PASSWORD"); }
};
const auto* const clearPasswordVariable =
    ::testing::AddGlobalTestEnvironment(new ClearPasswordVariable);

std::string Pack(TempDir& dir, const Bytes& content, const std::vector<std::string>& options) {
    const RunResult result = SfxPack(dir, content, options);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return dir / "packed.exe";
}

TEST(UnsfxExtractTest, ExtractsPackedFiles) {
    const Bytes content = TextBytes(100000, 1);
    for (bool compress : {false, true}) {
        TempDir dir;
        std::vector<std::string> options = {"--password", "pa ss"};
        if (compress)
            options.push_back("--compress");
        const std::string packed = Pack(dir, content, options);
        auto result = Unsfx({"extract", packed, "-o", dir / "out", "-p", "pa ss"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(ReadBytes(dir / "out"), content);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"input", "out", "packed.exe", "stub"}));
    }
}

TEST(UnsfxExtractTest, TinyFilesRoundTrip) {
    // Payloads shorter than a block are stored in the clear; compressed ones are not.
    for (std::size_t size : {0u, 1u, 4u, 7u, 8u, 9u, 15u, 17u}) {
        for (bool compress : {false, true}) {
            TempDir dir;
            const Bytes content = RandomBytes(size, static_cast<std::uint32_t>(size));
            std::vector<std::string> options = {"--password", "pw"};
            if (compress)
                options.push_back("--compress");
            const std::string packed = Pack(dir, content, options);
            auto result = Unsfx({"extract", packed, "-o", dir / "out", "-p", "pw"});
            EXPECT_EQ(result.exitCode, 0) << size << " " << compress << result.err;
            EXPECT_EQ(ReadBytes(dir / "out"), content) << size << " " << compress;
        }
    }
}

TEST(UnsfxExtractTest, PasswordSources) {
    TempDir dir;
    const Bytes content = RandomBytes(5000, 2);
    const std::string packed = Pack(dir, content, {"--password", "from file"});
    WriteBytes(dir / "pw", BytesOf("from file\r\nsecond line\n"));
    auto fromFile = Unsfx({"extract", packed, "-o", dir / "a", "--password-file", dir / "pw"});
    EXPECT_EQ(fromFile.exitCode, 0) << fromFile.err;
    auto fromStdin =
        Unsfx({"extract", packed, "-o", dir / "b", "--password-file", "-"}, "from file\n");
    EXPECT_EQ(fromStdin.exitCode, 0) << fromStdin.err;
    EXPECT_EQ(ReadBytes(dir / "b"), content);

    // Attached values, and the last -p of several.
    const std::vector<std::vector<std::string>> spellings = {
        {"-pfrom file"},
        {"--password=from file"},
        {"-p", "first", "--password", "from file"},
    };
    for (const auto& spelling : spellings) {
        std::vector<std::string> arguments = {"extract", packed, "-o", dir / "d", "--force"};
        arguments.insert(arguments.end(), spelling.begin(), spelling.end());
        auto attached = Unsfx(arguments);
        EXPECT_EQ(attached.exitCode, 0) << spelling[0] << attached.err;
        EXPECT_EQ(ReadBytes(dir / "d"), content);
    }
    // A password file ending without a line end, and one with the longest password.
    WriteBytes(dir / "unended", BytesOf("from file"));
    auto unended = Unsfx({packed, "-o", dir / "e", "--password-file", dir / "unended"});
    EXPECT_EQ(unended.exitCode, 0) << unended.err;
    WriteBytes(dir / "longest", BytesOf(std::string(255, 'x') + "\r\nmore"));
    auto longest = Unsfx({packed, "-o", dir / "f", "--password-file", dir / "longest"});
    EXPECT_EQ(longest.exitCode, WrongPassword) << longest.err;

    const std::string unprotected = Pack(dir, content, {"--no-password"});
    auto anyPassword = Unsfx({"extract", unprotected, "-o", dir / "c", "-p", "x"});
    EXPECT_EQ(anyPassword.exitCode, 0) << anyPassword.err;
}

// What a message may hold: printable ASCII and line ends only, so that no argument or file
// name can drive the terminal; and unsfx's own words, never the dialog's.
void ExpectPlainMessage(const std::string& err) {
    for (char ch : err) {
        const auto byte = static_cast<unsigned char>(ch);
        EXPECT_TRUE(ch == '\n' || ch == '\r' || (byte >= 0x20 && byte < 0x7f)) << int(byte);
    }
    for (int status : {1, 2, 3, 4, 6, 7})
        EXPECT_EQ(err.find(StatusMessage(status)), std::string::npos) << err;
}

// A name as unsfx's messages show it: quoted, a backslash doubled.
std::string Quoted(const std::string& name) {
    std::string shown = "'";
    for (char c : name) shown += c == '\\' ? std::string("\\\\") : std::string(1, c);
    return shown + "'";
}

struct FailureCase {
    std::vector<std::string> arguments;  // after the program
    int exitCode;
    std::string message;  // a part of standard error
    std::string input = "";
};

void ExpectFailures(const std::vector<FailureCase>& cases) {
    for (const FailureCase& c : cases) {
        auto result = Unsfx(c.arguments, c.input);
        std::string shown;
        for (const auto& a : c.arguments) shown += a + " ";
        EXPECT_EQ(result.exitCode, c.exitCode) << shown << "\n" << result.err;
        EXPECT_NE(result.err.find(c.message), std::string::npos)
            << shown << "\n"
            << result.err << "\nexpected: " << c.message;
        ExpectPlainMessage(result.err);
    }
}

TEST(UnsfxExtractTest, FailuresAndTheirExitCodes) {
    TempDir dir;
    const std::string packed = Pack(dir, RandomBytes(9000, 3), {"--password", "right"});
    WriteBytes(dir / "existing", BytesOf("keep me"));
    WriteBytes(dir / "junk", BytesOf("this is no container at all"));
    std::filesystem::create_directories(dir / "out/packed");
    std::filesystem::create_directories(dir / "default/packed");
    std::filesystem::copy_file(packed, dir / "default/packed.exe");
    const std::string escape = "\x1b[2J";
    const Bytes packedBytes = ReadBytes(packed);

    ExpectFailures({
        {{"extract", packed, "-o", dir / "new", "-p", "bad"},
         WrongPassword,
         Quoted(packed) + ": wrong password"},
        {{"extract", packed, "-o", dir / "existing", "-p", "right"}, 73, "--force"},
        {{"extract", packed, "-o", dir / "existing", "-p", "bad", "--force"},
         WrongPassword,
         "wrong password"},
        // A missing FILE is 2 however the command is spelled.
        {{"extract", dir / "none", "-o", dir / "x", "-p", "p"},
         ReadFailed,
         "cannot open " + Quoted(dir / "none") + ": "},
        {{dir / "none.exe", "-o", dir / "x", "-p", "p"},
         ReadFailed,
         "cannot open " + Quoted(dir / "none.exe") + ": "},
        {{"extract", dir / "junk", "-o", dir / "x", "-p", "p"},
         DataDamaged,
         "is not a self-extracting file, or it is damaged"},
        // Sources that are no regular file are refused before anything is opened.
        {{"extract", dir.path().string(), "-p", "p"}, ReadFailed, "' is a folder"},
        {{"extract", "-", "-p", "p"}, ReadFailed, "'-' can't be read from the end: give a file"},
        {{"test", "-", "-p", "p"}, ReadFailed, "'-' can't be read from the end: give a file"},
        {{"info", "-"}, ReadFailed, "'-' can't be read from the end: give a file"},
        // The destination's real trouble, not a guess at a full disk.
        {{"extract", packed, "-o", dir / "nope/x", "-p", "right"},
         WriteFailed,
         "cannot create " + Quoted(dir / "nope/x") + ": "},
        {{"extract", packed, "-o", dir / "existing/x", "-p", "right"},
         WriteFailed,
         "cannot create " + Quoted(dir / "existing/x") + ": "},
        {{"extract", packed, "-o", dir / "out/", "-p", "right", "--force"},
         WriteFailed,
         Quoted(dir / "out/packed") + " is a folder"},
        // A folder at the destination is said to be one at once, before any password is
        // asked for, not taken for a file that --force would replace.
        {{"extract", packed, "-o", dir / "out/", "-p", "right"},
         WriteFailed,
         Quoted(dir / "out/packed") + " is a folder: choose another name with -o"},
        {{dir / "default/packed.exe"},
         WriteFailed,
         Quoted(dir / "default/packed") + " is a folder: choose another name with -o"},
        // After --, a FILE may start with -.
        {{"test", "-p", "right", "--", "-x.exe"}, ReadFailed, "cannot open '-x.exe': "},
        {{"extract", packed, "-o", dir / std::string(300, 'n'), "-p", "right"},
         WriteFailed,
         "cannot create '"},
        // Names from the command line are escaped as file texts are.
        {{"extract", dir / (escape + "x.exe"), "-p", "p"}, ReadFailed, "\\x1b[2Jx.exe"},
        {{"extract", packed, "-o", dir / (escape + "/x"), "-p", "right"},
         WriteFailed,
         "\\x1b[2J/x"},
#ifndef _WIN32
        {{"extract", "/dev/null", "-p", "p"}, ReadFailed, "'/dev/null' is not a regular file"},
        // Standard input by its path (a file here): no file goes into /dev beside it.
        {{"/dev/stdin", "-p", "right"},
         64,
         "give -o DEST",
         std::string(packedBytes.begin(), packedBytes.end())},
#endif
    });
    EXPECT_EQ(ReadBytes(dir / "existing"), BytesOf("keep me"));
    EXPECT_FALSE(std::filesystem::exists(dir / "new"));
    EXPECT_FALSE(std::filesystem::exists(dir / "nope"));
#ifndef _WIN32
    EXPECT_FALSE(std::filesystem::exists("/dev/stdin.out"));
#endif

    auto forced = Unsfx({"extract", packed, "-o", dir / "existing", "-p", "right", "--force"});
    EXPECT_EQ(forced.exitCode, 0) << forced.err;
}

#ifndef _WIN32
TEST(UnsfxExtractTest, FifoSourceIsRefusedWithoutWaitingForAWriter) {
    TempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    // A FIFO nobody writes to: opening it would wait for ever.
    ExpectFailures({
        {{"extract", dir / "fifo", "-p", "p"},
         ReadFailed,
         Quoted(dir / "fifo") + " is not a regular file"},
        {{"info", dir / "fifo"}, ReadFailed, "is not a regular file"},
    });
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"fifo"});
}
#endif

TEST(UnsfxExtractTest, UsageErrors) {
    TempDir dir;
    const std::string packed = Pack(dir, RandomBytes(100, 4), {"--password", "pw"});
    WriteBytes(dir / "with-nul", BytesOf(std::string("p\0w\n", 4)));
    WriteBytes(dir / "empty", {});
    WriteBytes(dir / "blank", BytesOf("\r\nsecond line\n"));
    WriteBytes(dir / "long", BytesOf(std::string(256, 'x') + "\n"));
    WriteBytes(dir / "endless", Bytes(1 << 20, 'x'));
    const std::string unsfx = BinPath("unsfx");
    WriteBytes(dir / "pw", BytesOf("pw\n"));
    struct UsageCase {
        std::vector<std::string> arguments;
        std::string message;
        const char* threads = nullptr;  // UNSFX_THREADS, when set
    };
    const std::vector<UsageCase> cases = {
        {{}, "no FILE given"},
        {{"extract"}, "no FILE given"},
        {{"-p", "pw", "-q"}, "no FILE given"},
        {{"test", packed, "-o", dir / "o", "-p", "pw"}, "-o and --force belong to extract"},
        {{"info", packed, "-p", "pw"}, "info needs no password"},
        {{"extract", packed, packed, "-o", dir / "o", "-p", "pw"}, "-o must name a folder"},
        {{"extract", packed, "-o", dir / "o"}, "needs a password"},
        {{"extract", packed, "-o", dir / "o", "-p", std::string(256, 'x')}, "longer than 255"},
        {{"extract", packed, "-o", dir / "o", "-p", ""}, "the password given with -p is empty"},
        {{"extract", packed, "-o", dir / "o", "-p", "pw", "--bogus"}, "unknown option --bogus"},
        {{"extract", packed, "-o", dir / "o", "-p", "pw", "--password-file", dir / "pw"},
         "give either -p or --password-file, not both"},
        // UNSFX_THREADS takes 1 to 8 only; nothing else is ignored silently.
        {{"test", packed, "-p", "pw"}, "UNSFX_THREADS is '0': give a number from 1 to 8", "0"},
        {{"test", packed, "-p", "pw"}, "UNSFX_THREADS is '9'", "9"},
        {{"test", packed, "-p", "pw"}, "UNSFX_THREADS is '64'", "64"},
        {{"test", packed, "-p", "pw"}, "UNSFX_THREADS is '65'", "65"},
        {{"test", packed, "-p", "pw"}, "UNSFX_THREADS is 'abc'", "abc"},
        {{"info", packed}, "UNSFX_THREADS is ' 4'", " 4"},
        // Password files: a NUL, an empty first line, a line too long; read no further.
        {{packed, "-o", dir / "o", "--password-file", dir / "with-nul"}, "holds a NUL byte"},
        {{packed, "-o", dir / "o", "--password-file", dir / "empty"}, "is empty"},
        {{packed, "-o", dir / "o", "--password-file", dir / "blank"}, "is empty"},
        {{packed, "-o", dir / "o", "--password-file", dir / "long"}, "longer than 255"},
        {{packed, "-o", dir / "o", "--password-file", dir / "endless"}, "longer than 255"},
        {{packed, "-o", dir / "o", "--password-file", "-"}, "is empty"},
#ifndef _WIN32
        {{packed, "-o", dir / "o", "--password-file", "/dev/zero"}, "holds a NUL byte"},
#endif
        // An argument shown in a message is escaped; an unknown option shows its name only.
        {{"extract", "-\x1b[2Jx.exe"}, "unknown option -\\x1b"},
        {{packed, "--\x1b]0;x\x07=y"}, "unknown option --\\x1b]0;x\\x07"},
    };
    for (const auto& [arguments, message, threads] : cases) {
        if (threads != nullptr)
            SetEnv("UNSFX_THREADS", threads);
        auto result = Unsfx(arguments);
        UnsetEnv("UNSFX_THREADS");
        std::string shown;
        for (const auto& a : arguments) shown += a + " ";
        EXPECT_EQ(result.exitCode, 64) << shown;
        EXPECT_NE(result.err.find(message), std::string::npos) << shown << "\n" << result.err;
        // Usage errors end by pointing to the help.
        std::erase(result.err, '\r');
        const std::string tail = "try 'unsfx --help'\n";
        EXPECT_TRUE(result.err.size() >= tail.size() &&
                    result.err.compare(result.err.size() - tail.size(), tail.size(), tail) == 0)
            << shown << "\n"
            << result.err;
        ExpectPlainMessage(result.err);
    }
    EXPECT_NE(Unsfx({}).err.find("usage:"), std::string::npos);
    // Every count UNSFX_THREADS takes decrypts a payload of several pieces, whatever the
    // processors; set but empty, it is not set.
    TempDir large;
    const std::string several = Pack(large, RandomBytes(600000, 5), {"--password", "pw"});
    for (const char* threads : {"1", "3", "8", ""}) {
        SetEnv("UNSFX_THREADS", threads);
        auto counted = Unsfx({"test", "-q", several, "-p", "pw"});
        UnsetEnv("UNSFX_THREADS");
        EXPECT_EQ(counted.exitCode, 0) << threads << ": " << counted.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "o"));
    // 255 characters are fine (and wrong here).
    auto longest =
        test::Run({unsfx, "extract", packed, "-o", dir / "o", "-p", std::string(255, 'x')});
    EXPECT_EQ(longest.exitCode, WrongPassword);
    // A word that is neither a FILE nor a command: a missing FILE, and nothing else is done.
    std::filesystem::copy_file(packed, dir / "other.exe");
    auto mistyped = Unsfx({"frobnicate", dir / "other.exe", "-p", "pw"});
    EXPECT_EQ(mistyped.exitCode, ReadFailed);
    EXPECT_NE(mistyped.err.find("'frobnicate'"), std::string::npos) << mistyped.err;
    EXPECT_NE(mistyped.err.find("command"), std::string::npos) << mistyped.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "other"));
}

TEST(UnsfxExtractTest, PasswordsNeverShowInMessages) {
    TempDir dir;
    const std::string packed = Pack(dir, RandomBytes(100, 13), {"--password", "pw"});
    // However a password is spelled, a usage error does not repeat it.
    const std::vector<std::vector<std::string>> cases = {
        {"-pSesame1", "--bogus"},
        {"--password=Sesame1", "-PSesame2"},
        {"-pSesame1", "-p", "Sesame2", "--pasword=Sesame3"},
        {"--bogus=Sesame1", "-pSesame2"},
        {"-xSesame1"},
    };
    for (const auto& options : cases) {
        std::vector<std::string> arguments = {"extract", packed, "-o", dir / "o"};
        arguments.insert(arguments.end(), options.begin(), options.end());
        auto result = Unsfx(arguments);
        EXPECT_EQ(result.exitCode, 64) << options[0];
        EXPECT_NE(result.err.find("unknown option"), std::string::npos) << result.err;
        EXPECT_EQ(result.err.find("Sesame"), std::string::npos) << result.err;
    }
}

#ifndef _WIN32
// True when a thread of process `pid` is blocked writing to its standard output, as
// /proc/PID/task/TID/syscall tells: the call's number, then its first argument.
bool BlockedWritingOutput(pid_t pid) {
    const std::string tasks = "/proc/" + std::to_string(pid) + "/task";
    std::error_code error;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        const Bytes text = ReadBytes((task.path() / "syscall").string());
        if (std::string(text.begin(), text.end()).rfind(std::to_string(SYS_write) + " 0x1 ", 0) ==
            0)
            return true;
    }
    return false;
}

// Starts unsfx with `arguments`, its standard output a full pipe that nobody reads, and
// returns its argument list as /proc shows it once it is held writing its first bytes (so
// that it is well past reading its arguments, even when all it writes is a line of help);
// then ends it.
std::string ProcessListOfAWritingUnsfx(const std::vector<std::string>& arguments) {
    int pipeEnds[2];
    if (pipe2(pipeEnds, O_NONBLOCK) != 0)
        return "(no pipe)";
    static const char filler[4096] = {};
    while (write(pipeEnds[1], filler, sizeof filler) > 0) {
    }
    while (write(pipeEnds[1], filler, 1) > 0) {
    }
    fcntl(pipeEnds[1], F_SETFL, 0);
    std::vector<std::string> argv = {BinPath("unsfx")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const pid_t child = fork();
    if (child == 0) {
        dup2(pipeEnds[1], 1);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 2);
        ExecOrExit(argv);
    }
    close(pipeEnds[1]);
    bool writing = false;
    for (int i = 0; i < 1000 && !writing; ++i) {
        writing = BlockedWritingOutput(child);
        if (!writing)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    const Bytes list = ReadBytes("/proc/" + std::to_string(child) + "/cmdline");
    kill(child, SIGKILL);
    waitpid(child, nullptr, 0);
    close(pipeEnds[0]);
    if (!writing)
        return "(unsfx wrote nothing)";
    return std::string(list.begin(), list.end());
}

// Under memcheck (scripts/valgrind.sh) every program started runs inside valgrind, whose own
// process list and address space are what the kernel sees.
bool UnderMemcheck() {
    return std::getenv("SFX_UNDER_MEMCHECK") != nullptr;
}

TEST(UnsfxExtractTest, EveryPasswordLeavesTheProcessList) {
    if (!std::filesystem::exists("/proc/self/cmdline") || ReadBytes("/proc/self/syscall").empty())
        GTEST_SKIP() << "no /proc here, or no system calls shown in it";
    if (UnderMemcheck())
        GTEST_SKIP() << "the process list is valgrind's";
    TempDir dir;
    // The second password is the right one: the runs that extract get to their output.
    const std::string packed = Pack(dir, RandomBytes(1 << 20, 14), {"--password", "Sesame2"});
    const std::vector<std::vector<std::string>> spellings = {
        {"-p", "Sesame1", "-p", "Sesame2"},
        {"-pSesame1", "--password=Sesame2"},
        {"--password", "Sesame1", "-pSesame2"},
        {"--password=Sesame1", "--password", "Sesame2"},
        // Asked for help or the version, the passwords given with it go too.
        {"--help", "-p", "Sesame1"},
        {"-h", "--password=Sesame1", "-pSesame2"},
        {"--version", "--password", "Sesame1"},
        {"-V", "-pSesame1"},
    };
    for (const auto& spelling : spellings) {
        std::vector<std::string> arguments = {"extract", packed, "-o", "-"};
        arguments.insert(arguments.end(), spelling.begin(), spelling.end());
        const std::string list = ProcessListOfAWritingUnsfx(arguments);
        EXPECT_NE(list.find(packed), std::string::npos) << list;
        EXPECT_EQ(list.find("Sesame"), std::string::npos) << spelling[0] << ": " << list;
    }
}

// Runs unsfx with `arguments` under an address-space limit (bytes): the exit status, or
// 128 + the signal that ended it; standard error into `err`.
int UnsfxWithAddressSpace(const std::vector<std::string>& arguments, rlim_t limit,
                          std::string& err) {
    TempDir scratch;
    const std::string errPath = scratch / "err";
    std::vector<std::string> argv = {BinPath("unsfx")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        const int errFile = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        dup2(null, 0);
        dup2(null, 1);
        dup2(errFile, 2);
        const rlimit rl{limit, limit};
        if (setrlimit(RLIMIT_AS, &rl) != 0)
            _exit(126);
        ExecOrExit(argv);
    }
    const int status = ExitStatusOf(child);
    const Bytes bytes = ReadBytes(errPath);
    err.assign(bytes.begin(), bytes.end());
    return status;
}

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool Sanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer)
constexpr bool Sanitized = true;
#else
constexpr bool Sanitized = false;
#endif
#else
constexpr bool Sanitized = false;
#endif

TEST(UnsfxExtractTest, RunningOutOfMemoryIsStatusThreeNeverAnAbort) {
    if (Sanitized || UnderMemcheck())
        GTEST_SKIP() << "a sanitizer's or valgrind's runtime needs more address space than it "
                        "can be given";
    TempDir dir;
    const std::string packed = Pack(dir, TextBytes(200000, 15), {"--password", "pw", "--compress"});
    const std::vector<std::string> arguments = {"test", packed, "-p", "pw", "-q"};
    // The least address space in which the program loads and runs at all (below it the
    // loader gives up, which is no concern of unsfx's), to a page.
    std::string err;
    rlim_t fails = 0;
    rlim_t runs = rlim_t{1} << 30;
    ASSERT_EQ(UnsfxWithAddressSpace({"--version"}, runs, err), 0) << err;
    while (runs - fails > 4096) {
        const rlim_t middle = (fails + runs) / 2 / 4096 * 4096;
        (UnsfxWithAddressSpace({"--version"}, middle, err) == 0 ? runs : fails) = middle;
    }
    // From there every limit, a page apart, until the whole run fits.
    int outcomes[256] = {};
    for (rlim_t limit = runs; limit < runs + (rlim_t{64} << 20); limit += 4096) {
        const int status = UnsfxWithAddressSpace(arguments, limit, err);
        ASSERT_TRUE(status == 0 || status == OutOfMemory)
            << "limit " << limit << ": status " << status << "\n"
            << err;
        if (status == OutOfMemory) {
            ASSERT_EQ(err, "unsfx: not enough memory\n") << limit;
        }
        ++outcomes[status];
        if (status == 0)
            break;
    }
    EXPECT_GT(outcomes[OutOfMemory], 0);
    EXPECT_GT(outcomes[0], 0);
}

TEST(UnsfxExtractTest, DestinationOfAThousandBytes) {
    TempDir dir;
    const Bytes content = TextBytes(3000, 16);
    const std::string packed = Pack(dir, content, {"--password", "pw"});
    std::string folder = dir.path().string();
    while (folder.size() < 900) folder += "/" + std::string(99, 'f');
    std::filesystem::create_directories(folder);
    const std::string destination = folder + "/" + std::string(999 - folder.size(), 'd');
    ASSERT_EQ(destination.size(), 1000u);
    for (bool compressed : {false, true}) {
        const std::string source =
            compressed ? Pack(dir, content, {"--password", "pw", "--compress"}) : packed;
        auto result = Unsfx({source, "-o", destination, "-p", "pw", "--force"});
        EXPECT_EQ(result.exitCode, 0) << compressed << ": " << result.err;
        EXPECT_TRUE(ReadBytes(destination) == content) << compressed;
    }
}
#endif

TEST(UnsfxExtractTest, PasswordFromTheEnvironment) {
    TempDir dir;
    const Bytes content = RandomBytes(3000, 5);
    const std::string packed = Pack(dir, content, {"--password", "from env"});
    SetEnv("UNSFX_PASSWORD", "from env", 1);
    auto fromEnvironment = Unsfx({packed, "-o", dir / "a"});
    // -p comes first.
    auto overridden = Unsfx({packed, "-o", dir / "b", "-p", "other"});
    UnsetEnv("UNSFX_PASSWORD");
    EXPECT_EQ(fromEnvironment.exitCode, 0) << fromEnvironment.err;
    EXPECT_EQ(ReadBytes(dir / "a"), content);
    EXPECT_EQ(overridden.exitCode, WrongPassword);
    // Set but empty counts as not set: no password to be had here, not a wrong one.
    SetEnv("UNSFX_PASSWORD", "", 1);
    auto empty = Unsfx({packed, "-o", dir / "c"});
    UnsetEnv("UNSFX_PASSWORD");
    EXPECT_EQ(empty.exitCode, 64) << empty.err;
    EXPECT_NE(empty.err.find("needs a password"), std::string::npos) << empty.err;
}

TEST(UnsfxExtractTest, NoPasswordAndNoTerminalIsAUsageError) {
    TempDir dir;
    const std::string packed = Pack(dir, RandomBytes(100, 6), {"--password", "pw"});
    auto refused = Unsfx({"extract", packed, "-o", dir / "out"}, "pw\n");
    EXPECT_EQ(refused.exitCode, 64);
    EXPECT_NE(refused.err.find("no terminal"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
    auto testRefused = Unsfx({"test", packed});
    EXPECT_EQ(testRefused.exitCode, 64);

    // A file that needs no password never asks for one.
    const std::string open = Pack(dir, RandomBytes(100, 6), {"--no-password"});
    auto unasked = Unsfx({"extract", open, "-o", dir / "out"});
    EXPECT_EQ(unasked.exitCode, 0) << unasked.err;
}

TEST(UnsfxExtractTest, DefaultDestinations) {
    TempDir dir;
    const Bytes content = TextBytes(2000, 7);
    const std::string packed = Pack(dir, content, {"--password", "pw"});
    std::filesystem::copy_file(packed, dir / "report.final.exe");
    std::filesystem::copy_file(packed, dir / "plain");
    std::filesystem::create_directory(dir / "folder");

    // Bare FILE: its folder, its name without the last extension.
    auto bare = Unsfx({dir / "report.final.exe", "-p", "pw"});
    EXPECT_EQ(bare.exitCode, 0) << bare.err;
    EXPECT_EQ(ReadBytes(dir / "report.final"), content);
    auto again = Unsfx({dir / "report.final.exe", "-p", "pw"});
    EXPECT_EQ(again.exitCode, 73);

    // A name without extension would be the file itself.
    auto noExtension = Unsfx({"extract", dir / "plain", "-p", "pw"});
    EXPECT_EQ(noExtension.exitCode, 0) << noExtension.err;
    EXPECT_EQ(ReadBytes(dir / "plain.out"), content);

    // A folder takes the file under its default name, with or without the final slash.
    auto intoFolder = Unsfx({packed, "-o", dir / "folder", "-p", "pw"});
    EXPECT_EQ(intoFolder.exitCode, 0) << intoFolder.err;
    auto intoFolderSlash = Unsfx({dir / "report.final.exe", "-o", dir / "folder/", "-p", "pw"});
    EXPECT_EQ(intoFolderSlash.exitCode, 0) << intoFolderSlash.err;
    EXPECT_EQ(ReadBytes(dir / "folder/packed"), content);
    EXPECT_EQ(ReadBytes(dir / "folder/report.final"), content);
}

TEST(UnsfxExtractTest, SeveralFilesGiveTheFirstFailure) {
    TempDir dir;
    const Bytes first = RandomBytes(4000, 8);
    const Bytes second = TextBytes(4000, 9);
    WriteBytes(dir / "a.exe", MakeContainer(first));
    ContainerSpec other;
    other.password = "other";
    WriteBytes(dir / "b.exe", MakeContainer(first, other));
    ContainerSpec open;
    open.passwordProtected = false;
    open.compressed = true;
    WriteBytes(dir / "c.exe", MakeContainer(Intermediate(second), open));
    std::filesystem::create_directory(dir / "out");

    auto result = Unsfx({dir / "a.exe", dir / "b.exe", dir / "c.exe", dir / "missing.exe", "-o",
                         dir / "out", "-p", "secret"});
    EXPECT_EQ(result.exitCode, WrongPassword);
    EXPECT_NE(result.err.find("b.exe': wrong password"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("missing.exe"), std::string::npos) << result.err;
    EXPECT_EQ(ReadBytes(dir / "out/a"), first);
    EXPECT_EQ(ReadBytes(dir / "out/c"), second);
    EXPECT_FALSE(std::filesystem::exists(dir / "out/b"));

    // "-o DIR/" names a folder and makes it when missing.
    auto madeFolder =
        Unsfx({dir / "a.exe", dir / "c.exe", "-o", dir / "made/deeper/", "-p", "secret"});
    EXPECT_EQ(madeFolder.exitCode, 0) << madeFolder.err;
    EXPECT_EQ(ReadBytes(dir / "made/deeper/a"), first);
    EXPECT_EQ(ReadBytes(dir / "made/deeper/c"), second);

    // Several files to standard output follow one another.
    auto joined = Unsfx({dir / "a.exe", dir / "c.exe", "-o", "-", "-p", "secret"});
    EXPECT_EQ(joined.exitCode, 0) << joined.err;
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(BytesOf(joined.out), both);
}

TEST(UnsfxExtractTest, ToStandardOutput) {
    TempDir dir;
    const Bytes content = TextBytes(70000, 10);
    for (bool compress : {false, true}) {
        std::vector<std::string> options = {"--password", "pw"};
        if (compress)
            options.push_back("--compress");
        const std::string packed = Pack(dir, content, options);
        auto result = Unsfx({"extract", packed, "-o", "-", "-p", "pw"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(BytesOf(result.out), content);
        EXPECT_EQ(result.err, "");
        auto wrong = Unsfx({"extract", packed, "-o", "-", "-p", "bad"});
        EXPECT_EQ(wrong.exitCode, WrongPassword);
        if (compress) {
            EXPECT_EQ(wrong.out, "");  // nothing is decoded from an unverified stream
        }
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"input", "packed.exe", "stub"}));
    }
}

// The temporary folder of the programs run, watched for leftovers.
class UnsfxTestCommandTest : public ::testing::Test {
  protected:
#ifdef _WIN32
    static constexpr const char* TempVariable = "TMP";
#else
    static constexpr const char* TempVariable = "TMPDIR";
#endif
    void SetUp() override {
        SetEnv(TempVariable, temp_.path().string().c_str(), 1);
    }
    void TearDown() override {
        UnsetEnv(TempVariable);
    }
    TempDir temp_;
    TempDir dir_;
};

TEST_F(UnsfxTestCommandTest, KeepsNothingBehind) {
    const Bytes content = TextBytes(50000, 11);
    WriteBytes(dir_ / "plain.exe", MakeContainer(content));
    WriteBytes(dir_ / "packed.exe", MakeContainer(Intermediate(content), [] {
                   ContainerSpec spec;
                   spec.compressed = true;
                   return spec;
               }()));
    const std::vector<std::string> sources = {"packed.exe", "plain.exe"};

    auto passed = Unsfx({"test", dir_ / "plain.exe", dir_ / "packed.exe", "-p", "secret"});
    EXPECT_EQ(passed.exitCode, 0) << passed.err;
    EXPECT_NE(passed.out.find("plain.exe: OK"), std::string::npos) << passed.out;
    EXPECT_NE(passed.out.find("packed.exe: OK"), std::string::npos) << passed.out;
    EXPECT_EQ(passed.err, "");
    // The command is the first argument that is not an option, wherever the options stand.
    auto afterOptions = Unsfx({"-p", "secret", "test", dir_ / "plain.exe"});
    EXPECT_EQ(afterOptions.exitCode, 0) << afterOptions.err;
    EXPECT_NE(afterOptions.out.find("plain.exe: OK"), std::string::npos) << afterOptions.out;
    auto quiet = Unsfx({"test", "-q", dir_ / "packed.exe", "-p", "secret"});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.out, "");

    auto wrong = Unsfx({"test", dir_ / "packed.exe", "-p", "bad"});
    EXPECT_EQ(wrong.exitCode, WrongPassword);
    WriteBytes(dir_ / "broken.exe", MakeContainer(BytesOf("lzw"), [] {
                   ContainerSpec spec;
                   spec.compressed = true;
                   return spec;
               }()));
    auto broken = Unsfx({"test", dir_ / "broken.exe", "-p", "secret"});
    EXPECT_EQ(broken.exitCode, DecompressFailed);

    EXPECT_TRUE(temp_.Entries().empty());
    EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"broken.exe", "packed.exe", "plain.exe"}));
}

// A reader for the flat objects `info --json` prints: strings, booleans, whole numbers.
using JsonValue = std::variant<std::string, bool, long long>;
std::map<std::string, JsonValue> ParseFlatObject(const std::string& text) {
    std::map<std::string, JsonValue> object;
    std::size_t at = 0;
    auto skipSpace = [&] {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    };
    auto expect = [&](char c) {
        skipSpace();
        if (at >= text.size() || text[at] != c)
            throw std::runtime_error("expected " + std::string(1, c) + " at " + std::to_string(at));
        ++at;
    };
    auto readString = [&] {
        expect('"');
        std::string value;
        while (at < text.size() && text[at] != '"') {
            const char c = text[at++];
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
                throw std::runtime_error("raw byte in a string");
            if (c != '\\') {
                value += c;
                continue;
            }
            const char escape = text.at(at++);
            switch (escape) {
                case 'n':
                    value += '\n';
                    break;
                case 'r':
                    value += '\r';
                    break;
                case 't':
                    value += '\t';
                    break;
                case 'u': {
                    // One character of the basic plane, taken into UTF-8.
                    const auto code =
                        static_cast<char32_t>(std::stoul(text.substr(at, 4), nullptr, 16));
                    if (code >= 0xd800 && code < 0xe000)
                        throw std::runtime_error("a surrogate half");
                    if (code < 0x80) {
                        value += static_cast<char>(code);
                    } else if (code < 0x800) {
                        value += static_cast<char>(0xc0 | (code >> 6));
                        value += static_cast<char>(0x80 | (code & 0x3f));
                    } else {
                        value += static_cast<char>(0xe0 | (code >> 12));
                        value += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
                        value += static_cast<char>(0x80 | (code & 0x3f));
                    }
                    at += 4;
                    break;
                }
                default:
                    value += escape;
            }
        }
        expect('"');
        return value;
    };
    expect('{');
    for (;;) {
        const std::string name = readString();
        expect(':');
        skipSpace();
        if (text[at] == '"') {
            object[name] = readString();
        } else if (text.compare(at, 4, "true") == 0) {
            object[name] = true;
            at += 4;
        } else if (text.compare(at, 5, "false") == 0) {
            object[name] = false;
            at += 5;
        } else {
            std::size_t used = 0;
            object[name] = std::stoll(text.substr(at), &used);
            at += used;
        }
        skipSpace();
        if (text.at(at) == '}')
            break;
        expect(',');
    }
    ++at;
    skipSpace();
    if (at != text.size())
        throw std::runtime_error("text after the object");
    return object;
}

TEST(UnsfxInfoTest, HostileTextsAreEscapedAndJsonReadsBack) {
    TempDir dir;
    std::string riddle = "\x1b]0;owned\x07\x1b[2J\xe9\x9b\xff\\ \"q\" ";
    riddle += std::string(255 - riddle.size(), 'r');
    ASSERT_EQ(riddle.size(), 255u);
    struct Case {
        std::string riddle;
        Bytes description;       // as stored, NUL included
        std::string riddleText;  // the JSON texts in UTF-8: the bytes read in code page 1252
        std::string descriptionText;
    };
    std::string riddleText = riddle;  // e9 9b ff: U+00E9 U+203A U+00FF
    riddleText.replace(riddleText.find('\xe9'), 3, "\xc3\xa9\xe2\x80\xba\xc3\xbf");
    const Case cases[] = {
        {riddle, {}, riddleText, ""},
        {"", BytesOf(std::string("\x1b[31mred\r\n\xc3\xa9") + '\0'), "",
         "\x1b[31mred\r\n\xc3\x83\xc2\xa9"},
    };
    // The stored bytes, whatever the code page makes of them, as riddleBytes gives them.
    std::string riddleBytes = "1b5d303b6f776e6564071b5b324ae99bff5c2022712220";
    for (int i = 0; i < 232; ++i) riddleBytes += "72";  // "r"
    // The terminal's character set is ASCII here: whatever is not ASCII is escaped.
    SetEnv("LC_ALL", "C");
    for (const Case& c : cases) {
        ContainerSpec spec;
        spec.riddle = c.riddle;
        spec.description = c.description;
        spec.compressed = true;
        const Bytes payload = Intermediate(TextBytes(1000, 12));
        WriteBytes(dir / "x.exe", MakeContainer(payload, spec));

        auto human = Unsfx({"info", dir / "x.exe"});
        EXPECT_EQ(human.exitCode, 0) << human.err;
#ifdef _WIN32
        std::erase(human.out, '\r');  // the platform's own line ends
        // Redirected output is in the console's code page, whatever LC_ALL says: the
        // characters it holds pass, the control characters never do.
        for (char ch : human.out) {
            const auto byte = static_cast<unsigned char>(ch);
            EXPECT_TRUE(ch == '\n' || (byte >= 0x20 && byte != 0x7f)) << int(byte);
        }
        if (!c.riddle.empty()) {
            EXPECT_NE(human.out.find("\\x1b]0;owned\\x07\\x1b[2J"), std::string::npos) << human.out;
            EXPECT_NE(human.out.find("\\\\ \"q\" rrr"), std::string::npos) << human.out;
#else
        for (char ch : human.out) {
            const auto byte = static_cast<unsigned char>(ch);
            EXPECT_TRUE(ch == '\n' || (byte >= 0x20 && byte < 0x7f)) << int(byte);
        }
        if (!c.riddle.empty()) {
            EXPECT_NE(human.out.find("\\x1b]0;owned\\x07\\x1b[2J\\xe9\\x9b\\xff\\\\ \"q\" rrr"),
                      std::string::npos)
                << human.out;
#endif
            EXPECT_NE(human.out.find(std::string(200, 'r') + "\n"), std::string::npos);
        }

        auto json = Unsfx({"info", "--json", dir / "x.exe"});
        EXPECT_EQ(json.exitCode, 0) << json.err;
        ASSERT_FALSE(json.out.empty());
        EXPECT_EQ(json.out.back(), '\n');
        std::map<std::string, JsonValue> object;
        ASSERT_NO_THROW(object = ParseFlatObject(json.out.substr(0, json.out.size() - 1)))
            << json.out;
        EXPECT_EQ(std::get<std::string>(object["riddle"]), c.riddleText);
        EXPECT_EQ(std::get<std::string>(object["description"]), c.descriptionText);
        EXPECT_EQ(std::get<std::string>(object["riddleBytes"]),
                  c.riddle.empty() ? "" : riddleBytes);
        EXPECT_EQ(std::get<long long>(object["codePage"]), 1252);
        EXPECT_EQ(std::get<bool>(object["passwordProtected"]), true);
        EXPECT_EQ(std::get<bool>(object["compressed"]), true);
        EXPECT_EQ(std::get<long long>(object["payloadSize"]),
                  static_cast<long long>(payload.size()));
        EXPECT_EQ(std::get<long long>(object["containerOffset"]),
                  static_cast<long long>(spec.stub.size()));
        EXPECT_EQ(std::get<long long>(object["stubSize"]),
                  static_cast<long long>(spec.stub.size()));
        EXPECT_EQ(std::get<std::string>(object["stubSha256"]),  // of "MZ-stub-bytes"
                  "fe36add811cd7f01fbec5d04d5f2cac856a4af7e4f9c90a27847ec012354f3f2");
    }

    UnsetEnv("LC_ALL");

    WriteBytes(dir / "junk", BytesOf("no container here"));
    auto damaged = Unsfx({"info", dir / "junk"});
    EXPECT_EQ(damaged.exitCode, DataDamaged);
    EXPECT_EQ(damaged.out, "");
}

}  // namespace
}  // namespace sfx
