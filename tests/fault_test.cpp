// Fault injection: a full disk while decrypting and while decoding, destinations that can't
// be written, an unreadable source and a failed allocation, in the engine and through unsfx.
// After each: the right status, the destination exactly as before, no temporary file left
// (only the intermediate file of a failed decompression may stay) and no file left open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "engine/job.h"
#include "platform/platform.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

using test::Bytes;
using test::BytesOf;

// What a child process may be held to.
struct Limits {
    rlim_t fileSize = RLIM_INFINITY;  // no file may grow beyond this (SIGXFSZ ignored)
    bool unprivileged = false;        // runs as "nobody" when started as root
};

constexpr int CannotRestrict = 0x7E;
constexpr int DescriptorLeft = 0x40;

bool Restrict(const Limits& limits) {
    if (limits.unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        return false;
    if (limits.fileSize != RLIM_INFINITY) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{limits.fileSize, limits.fileSize};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
            return false;
    }
    return true;
}

int ExitCodeOf(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// Extracts in a child process held to `limits`: the status (0 for success), with
// DescriptorLeft added when the extraction left a file open.
int ExtractInChild(const std::string& source, const std::string& destination,
                   const Limits& limits) {
    const pid_t child = fork();
    if (child == 0) {
        if (!Restrict(limits))
            _exit(CannotRestrict);
        const int descriptors = test::OpenDescriptorCount();
        ExtractionJob job;
        const bool ok = job.Extract(source.c_str(), destination.c_str(), "secret");
        const int leak = test::OpenDescriptorCount() == descriptors ? 0 : DescriptorLeft;
        _exit((ok ? 0 : job.status) | leak);
    }
    return ExitCodeOf(child);
}

// Runs `unsfx extract SOURCE -o DESTINATION -p secret --force` held to `limits`.
int UnsfxInChild(const std::string& source, const std::string& destination, const Limits& limits) {
    // A copy of the program in a folder of its own, so that an unprivileged child can run it
    // wherever the build lives (a private folder included).
    test::TempDir programDir;
    std::filesystem::permissions(programDir.path(), std::filesystem::perms::all);
    const std::string program = programDir / "unsfx";
    std::filesystem::copy_file(test::BinPath("unsfx"), program);
    std::filesystem::permissions(program, std::filesystem::perms::all);
    const pid_t child = fork();
    if (child == 0) {
        const int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 1);
        dup2(null, 2);
        if (!Restrict(limits))
            _exit(CannotRestrict);
        execl(program.c_str(), program.c_str(), "extract", source.c_str(), "-o",
              destination.c_str(), "-p", "secret", "--force", static_cast<char*>(nullptr));
        _exit(127);
    }
    return ExitCodeOf(child);
}

// True when permission bits keep an unprivileged child from `access` (R_OK, W_OK) on `path`.
bool PermissionsHold(const std::string& path, int access) {
    const pid_t child = fork();
    if (child == 0) {
        Limits limits;
        limits.unprivileged = true;
        _exit(Restrict(limits) && ::access(path.c_str(), access) != 0 ? 0 : 1);
    }
    return ExitCodeOf(child) == 0;
}

// A folder, open to an unprivileged child, with a stored and a compressed packed file of the
// same user's file and a destination that already holds a file.
class FaultTest : public testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::permissions(dir_.path(), std::filesystem::perms::all);
        test::ContainerSpec packed;
        packed.compressed = true;
        test::WriteBytes(dir_ / "plain.exe", test::MakeContainer(plain_));
        test::WriteBytes(dir_ / "packed.exe", test::MakeContainer(stream_, packed));
        test::WriteBytes(destination_, before_);
    }

    void TearDown() override {
        std::error_code ignored;
        std::filesystem::permissions(dir_ / "locked", std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ignored);
    }

    std::string Source(bool compressed) const {
        return dir_ / (compressed ? "packed.exe" : "plain.exe");
    }

    // The destination as it was and nothing else beside the packed files, but the
    // intermediate file (complete) when `intermediateStays`.
    void ExpectNothingLost(bool intermediateStays, const std::string& what) {
        EXPECT_EQ(test::ReadBytes(destination_), before_) << what;
        std::vector<std::string> expected = {"out", "packed.exe", "plain.exe"};
        if (intermediateStays) {
            expected.insert(expected.begin() + 1, "out.lzw");
            EXPECT_EQ(test::ReadBytes(dir_ / "out.lzw"), stream_) << what;
        }
        EXPECT_EQ(dir_.Entries(), expected) << what;
        std::filesystem::remove(dir_ / "out.lzw");
    }

    test::TempDir dir_;
    const Bytes plain_ = test::TextBytes(2000000, 5);
    const Bytes stream_ = test::Intermediate(plain_);
    const std::string destination_ = dir_ / "out";
    const Bytes before_ = BytesOf("precious");
};

TEST_F(FaultTest, DiskFullWhileDecryptingOrDecoding) {
    Limits noRoomForTheFile;
    noRoomForTheFile.fileSize = 100000;
    EXPECT_EQ(ExtractInChild(Source(false), destination_, noRoomForTheFile), WriteFailed);
    ExpectNothingLost(false, "stored");

    Limits noRoomForTheStream;
    noRoomForTheStream.fileSize = 1000;
    EXPECT_EQ(ExtractInChild(Source(true), destination_, noRoomForTheStream), WriteFailed);
    ExpectNothingLost(false, "compressed, while decrypting");

    Limits noRoomForTheDecodedFile;
    noRoomForTheDecodedFile.fileSize = stream_.size() + 10;
    EXPECT_EQ(ExtractInChild(Source(true), destination_, noRoomForTheDecodedFile),
              DecompressFailed);
    ExpectNothingLost(true, "compressed, while decoding");
}

TEST_F(FaultTest, FolderNotWritable) {
    const std::string locked = dir_ / "locked";
    std::filesystem::create_directory(locked);
    test::WriteBytes(locked + "/out", before_);
    std::filesystem::permissions(
        locked, std::filesystem::perms::owner_read | std::filesystem::perms::owner_exec |
                    std::filesystem::perms::others_read | std::filesystem::perms::others_exec);
    if (!PermissionsHold(locked, W_OK))
        GTEST_SKIP() << "permission bits do not stop writes here";
    Limits unprivileged;
    unprivileged.unprivileged = true;
    for (bool compressed : {false, true}) {
        EXPECT_EQ(ExtractInChild(Source(compressed), locked + "/out", unprivileged), WriteFailed);
        EXPECT_EQ(UnsfxInChild(Source(compressed), locked + "/out", unprivileged), WriteFailed);
        EXPECT_EQ(test::ReadBytes(locked + "/out"), before_);
        std::error_code ignored;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(locked, ignored),
                                std::filesystem::directory_iterator()),
                  1);
    }
}

TEST_F(FaultTest, UnreadableSource) {
    std::filesystem::permissions(Source(true), std::filesystem::perms::none);
    if (!PermissionsHold(Source(true), R_OK))
        GTEST_SKIP() << "permission bits do not stop reads here";
    Limits unprivileged;
    unprivileged.unprivileged = true;
    EXPECT_EQ(ExtractInChild(Source(true), destination_, unprivileged), ReadFailed);
    EXPECT_EQ(UnsfxInChild(Source(true), destination_, unprivileged), ReadFailed);
    ExpectNothingLost(false, "unreadable source");
}

TEST_F(FaultTest, AllocationFailureInTheDecompressionPass) {
    for (int allowed : {0, 1}) {
        const int descriptors = test::OpenDescriptorCount();
        ExtractionJob job;
        platform::FailAllocationsAfter(allowed);
        EXPECT_FALSE(job.Extract(Source(true).c_str(), destination_.c_str(), "secret"));
        platform::FailAllocationsAfter(-1);
        EXPECT_EQ(job.status, OutOfMemory);
        EXPECT_EQ(test::OpenDescriptorCount(), descriptors);
        ExpectNothingLost(true, "allocation " + std::to_string(allowed) + " fails");
    }
}

TEST_F(FaultTest, ThroughTheCommandLine) {
    Limits noRoom;
    noRoom.fileSize = 1000;
    EXPECT_EQ(UnsfxInChild(Source(false), destination_, noRoom), WriteFailed);
    ExpectNothingLost(false, "unsfx, stored, disk full");
    EXPECT_EQ(UnsfxInChild(Source(true), destination_, noRoom), WriteFailed);
    ExpectNothingLost(false, "unsfx, compressed, disk full");
    noRoom.fileSize = stream_.size() + 10;
    EXPECT_EQ(UnsfxInChild(Source(true), destination_, noRoom), DecompressFailed);
    ExpectNothingLost(true, "unsfx, compressed, disk full while decoding");
    EXPECT_EQ(UnsfxInChild(Source(true), dir_ / "missing/out", {}), WriteFailed);
    ExpectNothingLost(false, "unsfx, missing folder");
    // -o FOLDER extracts into it under the default name; a folder standing there fails.
    std::filesystem::create_directories(dir_ / "folder/plain");
    EXPECT_EQ(UnsfxInChild(Source(false), dir_ / "folder", {}), WriteFailed);
    EXPECT_TRUE(std::filesystem::is_empty(dir_ / "folder/plain"));
    std::filesystem::remove_all(dir_ / "folder");
    ExpectNothingLost(false, "unsfx, a directory as destination");

    // With room enough the same run succeeds, so the failures above came from the faults.
    EXPECT_EQ(UnsfxInChild(Source(true), destination_, {}), 0);
    EXPECT_EQ(test::ReadBytes(destination_), plain_);
}

}  // namespace
}  // namespace sfx
