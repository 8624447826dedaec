// An interrupted extraction leaves no temporary file behind; the interrupts are caught only
// where the caller has not chosen to ignore them.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/files.h"
#include "platform/interrupts.h"
#include "platform/own_file.h"
#include "platform/temporaries.h"
#include "tests/support/test_support.h"
#include "tools/container_writer.h"

namespace sfx {
namespace {

using namespace test;

TEST(TemporaryTrackingTest, OnlyTrackedFilesGo) {
    TempDir dir;
    char made[512];
    std::FILE* sibling = platform::CreateUniqueSibling((dir / "dest").c_str(), made, sizeof made);
    ASSERT_NE(sibling, nullptr);
    std::fclose(sibling);
    WriteBytes(dir / "kept.lzw", Bytes{1});
    platform::TrackTemporary((dir / "kept.lzw").c_str());
    platform::UntrackTemporary((dir / "kept.lzw").c_str());
    platform::RemoveTrackedTemporaries();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"kept.lzw"});

    // A file moved into place is no longer temporary.
    sibling = platform::CreateUniqueSibling((dir / "dest").c_str(), made, sizeof made);
    ASSERT_NE(sibling, nullptr);
    std::fclose(sibling);
    ASSERT_TRUE(platform::ReplaceFile(made, (dir / "dest").c_str()));
    platform::RemoveTrackedTemporaries();
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"dest", "kept.lzw"}));
}

// True when process `pid` has a file open in `folder` other than `except`.
bool WritesInto(pid_t pid, const std::string& folder, const std::string& except) {
    const std::filesystem::path fds = "/proc/" + std::to_string(pid) + "/fd";
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
        const std::string target = std::filesystem::read_symlink(entry.path(), error).string();
        if (!error && target.rfind(folder + "/", 0) == 0 && target != except)
            return true;
    }
    return false;
}

// Starts unsfx, waits until it writes its file, interrupts it and checks the folder.
void InterruptWhileWriting(bool compress, int signal) {
    TempDir dir;
    const Bytes content = compress ? TextBytes(60u << 20, 1) : RandomBytes(96u << 20, 2);
    PackOptions options;
    options.password = "pw";
    options.compressed = compress;
    const Bytes stub = BytesOf("MZ");
    std::string error;
    ASSERT_TRUE(WriteSelfExtractor(stub.data(), stub.size(), content.data(), content.size(),
                                   dir / "packed.exe", options, error))
        << error;
    const std::string unsfx = BinPath("unsfx");
    const std::string out = dir / "out.bin";
    pid_t child = fork();
    if (child == 0) {
        execl(unsfx.c_str(), unsfx.c_str(), "extract", (dir / "packed.exe").c_str(), "-o",
              out.c_str(), "-p", "pw", "-q", static_cast<char*>(nullptr));
        _exit(127);
    }
    // The file being written may have no name (Linux's unnamed files): it is seen among the
    // child's open files, in the folder, whatever it is called.
    bool seen = false;
    for (int i = 0; i < 2000 && !seen; ++i) {
        seen = WritesInto(child, dir.path().string(), dir / "packed.exe");
        if (!seen)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(child, signal);
    int status = 0;
    waitpid(child, &status, 0);
    if (!seen || WIFEXITED(status)) {
        GTEST_SKIP() << "the extraction ended before it could be interrupted";
    }
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"packed.exe"});
}

// Lets Ctrl-\ end a child process without leaving a core file.
void NoCoreFile() {
    const rlimit none{0, 0};
    setrlimit(RLIMIT_CORE, &none);
}

// Creates and deletes files beside `dir`/dest for ever, with interrupts removing the tracked
// ones, in a child process; interrupts it with `signal` once it has been at it for `delay`.
// The child's end, as ExitStatusOf tells it.
int InterruptWhileCreating(const TempDir& dir, int signal, std::chrono::microseconds delay) {
    int ready[2];
    if (pipe(ready) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        NoCoreFile();
        platform::RemoveTemporariesOnInterrupt(true);
        if (write(ready[1], "!", 1) != 1)
            _exit(126);
        platform::OwnFile file;
        for (;;) {
            if (!file.CreateBeside((dir / "dest").c_str()))
                _exit(125);  // each attempt deletes the file of the one before
        }
    }
    close(ready[1]);
    char seen;
    const bool started = read(ready[0], &seen, 1) == 1;
    close(ready[0]);
    if (started)
        std::this_thread::sleep_for(delay);
    kill(child, signal);
    int status = 0;
    waitpid(child, &status, 0);
    return WIFSIGNALED(status) ? 128 + WTERMSIG(status) : WEXITSTATUS(status);
}

// An interrupt that comes while a file is being created finds it tracked, whenever it comes:
// it is never between the file's creation and its tracking.
TEST(InterruptTest, NoFileIsEverCreatedUntracked) {
    for (int round = 0; round < 100; ++round) {
        TempDir dir;
        const int signal = platform::InterruptSignals[round % platform::InterruptCount];
        const auto delay = std::chrono::microseconds(200 + 37 * (round % 50));
        ASSERT_EQ(InterruptWhileCreating(dir, signal, delay), 128 + signal) << round;
        ASSERT_EQ(dir.Entries(), std::vector<std::string>{}) << "round " << round;
    }
}

constexpr int HandlerRan = 0x55;
constexpr int Refused = 0x21;
constexpr int Caught = 0x22;
void EndFromHandler(int) {
    _exit(HandlerRan);
}

// A caller that ignores an interrupt (nohup, a shell's background job) keeps it ignored; the
// others get it caught.
TEST(CatchInterruptTest, AnIgnoredSignalStaysIgnored) {
    for (int signal : platform::InterruptSignals) {
        for (bool ignored : {false, true}) {
            const pid_t child = fork();
            if (child == 0) {
                NoCoreFile();
                std::signal(signal, ignored ? SIG_IGN : SIG_DFL);
                struct sigaction saved;
                const bool caught = platform::CatchInterrupt(signal, EndFromHandler, saved);
                struct sigaction now;
                sigaction(signal, nullptr, &now);
                if (caught != (now.sa_handler == EndFromHandler))
                    _exit(0x7F);
                raise(signal);
                _exit(caught ? Caught : Refused);
            }
            int status = 0;
            waitpid(child, &status, 0);
            ASSERT_TRUE(WIFEXITED(status)) << signal << " ignored " << ignored;
            EXPECT_EQ(WEXITSTATUS(status), ignored ? Refused : HandlerRan)
                << "signal " << signal << (ignored ? ", ignored" : "");
        }
    }
}

TEST(InterruptTest, UncompressedLeavesNothing) {
    InterruptWhileWriting(false, SIGINT);
}
TEST(InterruptTest, CompressedLeavesNothing) {
    InterruptWhileWriting(true, SIGTERM);
}

}  // namespace
}  // namespace sfx
