// Fault injection: a full disk while decrypting and while decoding, destinations that can't
// be written, an unreadable source and a failed allocation, in the engine and through unsfx.
// After each: the right status, the destination exactly as before, no temporary file left
// (only the intermediate file of a failed decompression may stay) and no file left open.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/job.h"
#include "platform/allocation.h"
#include "tests/support/test_support.h"

namespace sfx {
namespace {

using namespace test;

// What a child process may be held to.
struct Limits {
    rlim_t fileSize = RLIM_INFINITY;  // no file may grow beyond this (SIGXFSZ ignored)
    bool unprivileged = false;        // runs as "nobody" when started as root
    bool keepFileSizeSignal = false;  // SIGXFSZ keeps its default action (the end)
};

constexpr int CannotRestrict = 0x7E;
constexpr int DescriptorLeft = 0x40;

bool Restrict(const Limits& limits) {
    umask(022);
    if (limits.unprivileged && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
        return false;
    if (limits.fileSize != RLIM_INFINITY) {
        std::signal(SIGXFSZ, limits.keepFileSizeSignal ? SIG_DFL : SIG_IGN);
        rlimit rl{limits.fileSize, limits.fileSize};
        if (setrlimit(RLIMIT_FSIZE, &rl) != 0)
            return false;
    }
    return true;
}

// Extracts in a child process held to `limits`: the status (0 for success), with
// DescriptorLeft added when the extraction left a file open.
int ExtractInChild(const std::string& source, const std::string& destination,
                   const Limits& limits) {
    const pid_t child = fork();
    if (child == 0) {
        if (!Restrict(limits))
            _exit(CannotRestrict);
        const int descriptors = OpenDescriptorCount();
        ExtractionJob job;
        const bool ok = job.Extract(source.c_str(), destination.c_str(), "secret");
        const int leak = OpenDescriptorCount() == descriptors ? 0 : DescriptorLeft;
        _exit((ok ? 0 : job.status) | leak);
    }
    return ExitStatusOf(child);
}

// A copy of unsfx in a folder of its own, so that an unprivileged child can run it wherever
// the build lives (a private folder included).
class UnsfxCopy {
  public:
    UnsfxCopy() {
        std::filesystem::permissions(dir_.path(), std::filesystem::perms::all);
        std::filesystem::copy_file(BinPath("unsfx"), program_);
        std::filesystem::permissions(program_, std::filesystem::perms::all);
    }
    // Starts `unsfx ARGUMENTS...` held to `limits`, its standard output to `output` (the null
    // device when -1); returns the child.
    // Its standard error goes to `errors` (the null device when -1).
    pid_t Start(const std::vector<std::string>& arguments, const Limits& limits, int output = -1,
                int errors = -1) const {
        const pid_t child = fork();
        if (child == 0) {
            const int null = open("/dev/null", O_RDWR);
            dup2(null, 0);
            dup2(output >= 0 ? output : null, 1);
            dup2(errors >= 0 ? errors : null, 2);
            if (!Restrict(limits))
                _exit(CannotRestrict);
            std::vector<std::string> argv = {program_};
            argv.insert(argv.end(), arguments.begin(), arguments.end());
            ExecOrExit(argv);
        }
        return child;
    }

  private:
    TempDir dir_;
    const std::string program_ = dir_ / "unsfx";
};

// Runs `unsfx extract SOURCE -o DESTINATION -p secret --force` held to `limits`.
int UnsfxInChild(const std::string& source, const std::string& destination, const Limits& limits) {
    UnsfxCopy unsfx;
    return ExitStatusOf(
        unsfx.Start({"extract", source, "-o", destination, "-p", "secret", "--force"}, limits));
}

// True when permission bits keep an unprivileged child from `access` (R_OK, W_OK) on `path`.
bool PermissionsHold(const std::string& path, int access) {
    const pid_t child = fork();
    if (child == 0) {
        Limits limits;
        limits.unprivileged = true;
        _exit(Restrict(limits) && ::access(path.c_str(), access) != 0 ? 0 : 1);
    }
    return ExitStatusOf(child) == 0;
}

// A folder, open to an unprivileged child, with a stored and a compressed packed file of the
// same user's file and a destination that already holds a file.
class FaultTest : public testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::permissions(dir_.path(), std::filesystem::perms::all);
        ContainerSpec packed;
        packed.compressed = true;
        WriteBytes(dir_ / "plain.exe", MakeContainer(plain_));
        WriteBytes(dir_ / "packed.exe", MakeContainer(stream_, packed));
        WriteBytes(destination_, before_);
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
        EXPECT_EQ(ReadBytes(destination_), before_) << what;
        std::vector<std::string> expected = {"out", "packed.exe", "plain.exe"};
        if (intermediateStays) {
            expected.insert(expected.begin() + 1, "out.lzw");
            EXPECT_EQ(ReadBytes(dir_ / "out.lzw"), stream_) << what;
        }
        EXPECT_EQ(dir_.Entries(), expected) << what;
        std::filesystem::remove(dir_ / "out.lzw");
    }

    TempDir dir_;
    const Bytes plain_ = TextBytes(2000000, 5);
    const Bytes stream_ = Intermediate(plain_);
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
    // The decoded file is written as the payload is decrypted: a full disk is a failed write,
    // and no stream is kept on a disk that is full.
    EXPECT_EQ(ExtractInChild(Source(true), destination_, noRoomForTheDecodedFile), WriteFailed);
    ExpectNothingLost(false, "compressed, while decoding");
}

TEST_F(FaultTest, FolderNotWritable) {
    const std::string locked = dir_ / "locked";
    std::filesystem::create_directory(locked);
    WriteBytes(locked + "/out", before_);
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
        EXPECT_EQ(ReadBytes(locked + "/out"), before_);
        std::error_code ignored;
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(locked, ignored),
                                std::filesystem::directory_iterator()),
                  1);
    }
    // A destination the user may write, in that folder, is written once verified, as a "wb"
    // open would have written it.
    if (geteuid() != 0)
        return;
    ASSERT_EQ(chown((locked + "/out").c_str(), 65534, 65534), 0);
    for (bool compressed : {false, true}) {
        WriteBytes(locked + "/out", before_);
        EXPECT_EQ(ExtractInChild(Source(compressed), locked + "/out", unprivileged), 0);
        EXPECT_EQ(ReadBytes(locked + "/out"), plain_);
        WriteBytes(locked + "/out", before_);
        EXPECT_EQ(UnsfxInChild(Source(compressed), locked + "/out", unprivileged), 0);
        EXPECT_EQ(ReadBytes(locked + "/out"), plain_);
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
        const int descriptors = OpenDescriptorCount();
        ExtractionJob job;
        platform::FailAllocationsAfter(allowed);
        EXPECT_FALSE(job.Extract(Source(true).c_str(), destination_.c_str(), "secret"));
        platform::FailAllocationsAfter(-1);
        EXPECT_EQ(job.status, OutOfMemory);
        EXPECT_EQ(OpenDescriptorCount(), descriptors);
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
    // Past the file-size limit, with SIGXFSZ as the shell leaves it, is a failed write too.
    noRoom.keepFileSizeSignal = true;
    EXPECT_EQ(UnsfxInChild(Source(true), destination_, noRoom), WriteFailed);
    ExpectNothingLost(false, "unsfx, compressed, file-size limit");
    noRoom.fileSize = stream_.size() + 10;
    EXPECT_EQ(UnsfxInChild(Source(true), destination_, noRoom), WriteFailed);
    ExpectNothingLost(false, "unsfx, compressed, disk full while decoding");
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
    EXPECT_EQ(ReadBytes(destination_), plain_);
}

// A POSIX ACL as the kernel keeps it in system.posix_acl_access and ..._default: version 2,
// then (tag, permissions, id) entries in tag order, all little-endian.
struct AclEntry {
    std::uint16_t tag;  // 1 owner, 2 a user, 4 group, 8 a group, 0x10 mask, 0x20 others
    std::uint16_t permissions;
    std::uint32_t id;
};
std::string AclValue(std::initializer_list<AclEntry> entries) {
    std::string value;
    const auto put = [&](std::uint32_t number, int bytes) {
        for (int i = 0; i < bytes; ++i) value += static_cast<char>((number >> (8 * i)) & 0xFF);
    };
    put(2, 4);
    for (const AclEntry& entry : entries) {
        put(entry.tag, 2);
        put(entry.permissions, 2);
        put(entry.id, 4);
    }
    return value;
}
constexpr std::uint32_t NoId = 0xFFFFFFFF;

// The permission bits, owner, group and every extended attribute of `path` (ACLs among
// them), as one text to compare.
std::string Attributes(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) != 0)
        return "nothing";
    std::string text = std::to_string(info.st_mode & 07777) + " " + std::to_string(info.st_uid) +
                       ":" + std::to_string(info.st_gid);
    char names[4096];
    const ssize_t length = llistxattr(path.c_str(), names, sizeof names);
    std::vector<std::string> listed;
    for (ssize_t at = 0; at < length; at += static_cast<ssize_t>(std::strlen(names + at)) + 1)
        listed.push_back(names + at);
    std::sort(listed.begin(), listed.end());
    for (const std::string& name : listed) {
        char value[4096];
        const ssize_t size = lgetxattr(path.c_str(), name.c_str(), value, sizeof value);
        text += " " + name + "=";
        for (ssize_t i = 0; i < size; ++i)
            text += std::to_string(static_cast<unsigned char>(value[i])) + ".";
    }
    return text;
}

enum class Standing {
    Nothing,
    LinkToVictim,
    HardLinkToVictim,
    Fifo,
    File,
    PrivateFile,
    ReadOnlyFile,
    LinkToFifo,              // a link to a FIFO beside it
    FileWithAttributes,      // group nogroup, an ACL entry for nobody, a user attribute
    NothingUnderDefaultAcl,  // its folder has a default ACL
};

// True when the file system of `folder` keeps what `standing` needs.
bool Supported(Standing standing, const std::string& folder) {
    if (standing != Standing::FileWithAttributes && standing != Standing::NothingUnderDefaultAcl)
        return true;
    const std::string probe = folder + "/probe";
    WriteBytes(probe, BytesOf(""));
    const std::string acl = AclValue({{1, 6, NoId}, {4, 4, NoId}, {0x20, 0, NoId}});
    const bool kept =
        setxattr(probe.c_str(), "user.probe", "1", 1, 0) == 0 &&
        setxattr(probe.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0) == 0;
    std::filesystem::remove(probe);
    return kept;
}

void Put(Standing standing, const std::string& path, const std::string& victim) {
    switch (standing) {
        case Standing::Nothing:
            break;
        case Standing::LinkToFifo:
            ASSERT_EQ(mkfifo((victim + ".fifo").c_str(), 0666), 0);
            std::filesystem::create_symlink(victim + ".fifo", path);
            break;
        case Standing::FileWithAttributes: {
            WriteBytes(path, BytesOf("what stood there"));
            ASSERT_EQ(chown(path.c_str(), static_cast<uid_t>(-1), 65534), 0);
            ASSERT_EQ(setxattr(path.c_str(), "user.tag", "kept", 4, 0), 0);
            const std::string acl = AclValue(
                {{1, 6, NoId}, {2, 6, 65534}, {4, 4, NoId}, {0x10, 6, NoId}, {0x20, 0, NoId}});
            ASSERT_EQ(setxattr(path.c_str(), "system.posix_acl_access", acl.data(), acl.size(), 0),
                      0);
            break;
        }
        case Standing::NothingUnderDefaultAcl: {
            // As `setfacl -d -m u:nobody:rw,o::-` leaves it.
            const std::string acl = AclValue(
                {{1, 7, NoId}, {2, 6, 65534}, {4, 5, NoId}, {0x10, 7, NoId}, {0x20, 0, NoId}});
            const std::string folder = std::filesystem::path(path).parent_path();
            ASSERT_EQ(
                setxattr(folder.c_str(), "system.posix_acl_default", acl.data(), acl.size(), 0), 0);
            break;
        }
        case Standing::LinkToVictim:
            std::filesystem::create_symlink(victim, path);
            break;
        case Standing::HardLinkToVictim:
            std::filesystem::create_hard_link(victim, path);
            break;
        case Standing::Fifo:
            ASSERT_EQ(mkfifo(path.c_str(), 0666), 0);
            break;
        case Standing::File:
        case Standing::PrivateFile:
        case Standing::ReadOnlyFile:
            WriteBytes(path, BytesOf("what stood there"));
            chmod(path.c_str(), standing == Standing::File          ? 0644
                                : standing == Standing::PrivateFile ? 0600
                                                                    : 0444);
            // Read-only for its owner, the unprivileged user that runs the extraction.
            if (standing == Standing::ReadOnlyFile && geteuid() == 0) {
                ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
            }
            break;
    }
}

// unsfx extract against what may stand at the destination DEST and at DEST.lzw: links,
// FIFOs, files of others, read-only files. Only the destination may change, only after the
// file has been verified, and only as a "wb" open would have changed it.
TEST(HostileDestinationTest, OnlyTheVerifiedDestinationChanges) {
    struct Row {
        const char* what;
        Standing atDestination;
        Standing atLzw;
        bool compressed;
        bool rightPassword;
        bool force;
        bool unprivileged;
        int exit;
        int mode;  // of the destination after a success; -1: not checked
    };
    const Row rows[] = {
        {"link at DEST.lzw, wrong password", Standing::Nothing, Standing::LinkToVictim, true, false,
         false, false, WrongPassword, -1},
        {"link at DEST.lzw", Standing::Nothing, Standing::LinkToVictim, true, true, false, false, 0,
         0644},
        {"file at DEST.lzw, wrong password", Standing::Nothing, Standing::File, true, false, false,
         false, WrongPassword, -1},
        {"FIFO at DEST.lzw", Standing::Nothing, Standing::Fifo, true, true, false, false, 0, 0644},
        {"link at DEST", Standing::LinkToVictim, Standing::Nothing, false, true, false, false, 73,
         -1},
        {"link at DEST, --force", Standing::LinkToVictim, Standing::Nothing, true, true, true,
         false, 0, 0644},
        {"hard link at DEST, --force", Standing::HardLinkToVictim, Standing::Nothing, false, true,
         true, false, 0, 0644},
        {"FIFO at DEST, --force", Standing::Fifo, Standing::Nothing, false, true, true, false,
         WriteFailed, -1},
        {"file at DEST", Standing::File, Standing::Nothing, true, true, false, false, 73, -1},
        {"file at DEST, wrong password, --force", Standing::File, Standing::Nothing, true, false,
         true, false, WrongPassword, -1},
        {"private file at DEST, --force", Standing::PrivateFile, Standing::Nothing, true, true,
         true, false, 0, 0600},
        {"read-only file at DEST, --force", Standing::ReadOnlyFile, Standing::Nothing, false, true,
         true, true, WriteFailed, -1},
        {"nothing at DEST", Standing::Nothing, Standing::Nothing, false, true, false, true, 0,
         0644},
        {"link to a FIFO at DEST, --force", Standing::LinkToFifo, Standing::Nothing, false, true,
         true, false, WriteFailed, -1},
        {"file with an ACL and attributes at DEST, --force", Standing::FileWithAttributes,
         Standing::Nothing, true, true, true, false, 0, 0660},
        {"nothing at DEST, a default ACL in its folder", Standing::NothingUnderDefaultAcl,
         Standing::Nothing, false, true, false, false, 0, -1},
    };
    const Bytes plain = TextBytes(300000, 8);
    ContainerSpec packed;
    packed.compressed = true;
    UnsfxCopy unsfx;
    for (const Row& row : rows) {
        TempDir dir;
        std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
        const std::string source = dir / "file.exe";
        const std::string destination = dir / "dest";
        const std::string victim = dir / "victim.cfg";
        WriteBytes(source, row.compressed ? MakeContainer(Intermediate(plain), packed)
                                          : MakeContainer(plain));
        WriteBytes(victim, BytesOf("victim"));
        if (!Supported(row.atDestination, dir.path())) {
            std::printf("skipped: %s (no ACLs or attributes here)\n", row.what);
            continue;
        }
        Put(row.atDestination, destination, victim);
        Put(row.atLzw, destination + ".lzw", victim);
        const std::string destinationBefore = Snapshot(destination);
        const std::string attributesBefore = Attributes(destination);
        const std::string lzwBefore = Snapshot(destination + ".lzw");

        std::vector<std::string> arguments = {
            "extract", source, "-o", destination, "-p", row.rightPassword ? "secret" : "wrong"};
        if (row.force)
            arguments.push_back("--force");
        Limits limits;
        limits.unprivileged = row.unprivileged;
        EXPECT_EQ(ExitStatusOf(unsfx.Start(arguments, limits)), row.exit) << row.what;

        EXPECT_EQ(ReadBytes(victim), BytesOf("victim")) << row.what;
        EXPECT_EQ(Snapshot(destination + ".lzw"), lzwBefore) << row.what;
        if (row.exit == 0) {
            EXPECT_EQ(ReadBytes(destination), plain) << row.what;
            struct stat info;
            ASSERT_EQ(lstat(destination.c_str(), &info), 0);
            EXPECT_TRUE(S_ISREG(info.st_mode)) << row.what;
            if (row.mode >= 0) {
                EXPECT_EQ(static_cast<int>(info.st_mode & 07777), row.mode) << row.what;
            }
            // A "wb" open keeps the file and all it carries; a new file gets what a shell's
            // redirection would give it there.
            if (row.atDestination == Standing::FileWithAttributes) {
                EXPECT_EQ(Attributes(destination), attributesBefore) << row.what;
            }
            if (row.atDestination == Standing::NothingUnderDefaultAcl) {
                const std::string redirected = dir / "redirected";
                const mode_t mask = umask(022);
                close(open(redirected.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666));
                umask(mask);
                EXPECT_EQ(Attributes(destination), Attributes(redirected)) << row.what;
            }
        } else {
            EXPECT_EQ(Snapshot(destination), destinationBefore) << row.what;
        }
        for (const std::string& entry : dir.Entries())
            EXPECT_NE(entry[0], '~') << row.what << ": " << entry << " left behind";
    }
}

// Two runs extracting different files to one destination at once: each succeeds only with
// its own bytes in place; without --force exactly one of them succeeds.
TEST(HostileDestinationTest, ConcurrentExtractionsToOneDestination) {
    const Bytes first = TextBytes(3000000, 21);
    const Bytes second = TextBytes(3000000, 22);
    ContainerSpec packed;
    packed.compressed = true;
    UnsfxCopy unsfx;
    for (bool force : {false, true}) {
        for (int round = 0; round < 3; ++round) {
            TempDir dir;
            WriteBytes(dir / "a.exe", MakeContainer(Intermediate(first), packed));
            WriteBytes(dir / "b.exe", MakeContainer(Intermediate(second), packed));
            const std::string destination = dir / "out";
            std::vector<std::string> a = {"extract",   dir / "a.exe", "-o",
                                          destination, "-p",          "secret"};
            std::vector<std::string> b = {"extract",   dir / "b.exe", "-o",
                                          destination, "-p",          "secret"};
            if (force) {
                a.push_back("--force");
                b.push_back("--force");
            }
            const pid_t childA = unsfx.Start(a, {});
            const pid_t childB = unsfx.Start(b, {});
            const int exitA = ExitStatusOf(childA);
            const int exitB = ExitStatusOf(childB);
            const Bytes result = ReadBytes(destination);
            EXPECT_TRUE(result == first || result == second) << "a file equal to neither";
            if (force) {
                EXPECT_EQ(exitA, 0);
                EXPECT_EQ(exitB, 0);
            } else {
                EXPECT_TRUE((exitA == 0 && exitB == 73) || (exitA == 73 && exitB == 0))
                    << exitA << " " << exitB;
                EXPECT_EQ(result, exitA == 0 ? first : second);
            }
            EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"a.exe", "b.exe", "out"}));
        }
    }
}

// `-o -` into a pipe that is closed early or onto a full device: a failed write, also when
// all the output fits the stream's buffer, with nothing decrypted left on disk, and no
// scratch file in the folder for temporary files.
TEST(HostileDestinationTest, OutputThatTakesNothingIsAFailedWrite) {
    struct Row {
        const char* what;
        bool compressed;
        std::size_t size;
        bool fullDevice;  // else a pipe closed after the first bytes
    };
    const Row rows[] = {
        {"closed pipe, stored", false, 2000000, false},
        {"closed pipe, compressed", true, 2000000, false},
        {"full device, stored", false, 2000000, true},
        {"full device, compressed", true, 2000000, true},
        {"full device, small and stored", false, 300, true},
        {"full device, small and compressed", true, 300, true},
    };
    ContainerSpec packed;
    packed.compressed = true;
    UnsfxCopy unsfx;
    for (const Row& row : rows) {
        const Bytes plain = TextBytes(row.size, 9);
        TempDir dir;
        TempDir scratch;
        WriteBytes(dir / "file.exe", row.compressed ? MakeContainer(Intermediate(plain), packed)
                                                    : MakeContainer(plain));
        int ends[2];
        if (row.fullDevice) {
            ends[0] = -1;
            ends[1] = open("/dev/full", O_WRONLY | O_CLOEXEC);
            ASSERT_GE(ends[1], 0) << "no /dev/full";
        } else {
            ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);  // the child keeps only its standard output
        }
        setenv("TMPDIR", scratch.path().c_str(), 1);
        const pid_t child =
            unsfx.Start({"extract", dir / "file.exe", "-o", "-", "-p", "secret"}, {}, ends[1]);
        unsetenv("TMPDIR");
        close(ends[1]);
        if (!row.fullDevice) {
            char head[10];
            EXPECT_EQ(read(ends[0], head, sizeof head), static_cast<ssize_t>(sizeof head));
            close(ends[0]);
        }
        EXPECT_EQ(ExitStatusOf(child), WriteFailed) << row.what;
        EXPECT_TRUE(scratch.Entries().empty()) << row.what;
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"file.exe"}) << row.what;
    }
}

// Waits until the running child has a file open whose path contains `part`: true then,
// false when the child ended first or nothing came within a few seconds.
bool WaitForOpenFile(pid_t child, const std::string& part) {
    const std::string fds = "/proc/" + std::to_string(child) + "/fd";
    for (int round = 0; round < 5000; ++round) {
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(fds, error)) {
            std::error_code unreadable;
            const std::string target = std::filesystem::read_symlink(entry.path(), unreadable);
            if (target.find(part) != std::string::npos)
                return true;
        }
        if (error)
            return false;
        usleep(1000);
    }
    return false;
}

// A folder that takes no new file from the unprivileged user, holding a file that user may
// write: the extraction's file is staged in TMPDIR and copied into it.
std::string LockedFolderWithFile(const std::string& folder, const Bytes& content) {
    const std::string locked = folder + "/locked";
    std::filesystem::create_directory(locked);
    chmod(locked.c_str(), 0755);
    WriteBytes(locked + "/out", content);
    chown((locked + "/out").c_str(), 65534, 65534);
    return locked + "/out";
}

// What happens to the destination while unsfx runs: its folder moved, its staged copy
// watched, the run interrupted. The result goes where its folder went, whole, nobody else
// can read it before it is in place, and a file written in place is the old one or the new.
TEST(HostileDestinationTest, WhileItRuns) {
    enum class Meanwhile { FolderRenamed, StagedCopyWatched, Interrupted };
    const struct {
        const char* what;
        Meanwhile meanwhile;
    } rows[] = {
        {"the destination's folder renamed", Meanwhile::FolderRenamed},
        {"the staged copy watched during an in-place write", Meanwhile::StagedCopyWatched},
        {"interrupted during an in-place write", Meanwhile::Interrupted},
    };
    if (geteuid() != 0)
        GTEST_SKIP() << "needs root to give files to an unprivileged user";
    const Bytes plain = RandomBytes(40000000, 31);
    const Bytes before = BytesOf("what stood there");
    UnsfxCopy unsfx;
    TempDir sources;
    std::filesystem::permissions(sources.path(), std::filesystem::perms::all);
    WriteBytes(sources / "big.exe", MakeContainer(plain));
    chmod((sources / "big.exe").c_str(), 0644);
    for (const auto& row : rows) {
        TempDir dir;
        TempDir scratch;
        std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
        std::filesystem::permissions(scratch.path(), std::filesystem::perms::all);
        Limits limits;
        std::string destination = dir / "mv1/out";
        if (row.meanwhile == Meanwhile::FolderRenamed) {
            std::filesystem::create_directory(dir / "mv1");
        } else {
            destination = LockedFolderWithFile(dir.path(), before);
            limits.unprivileged = true;
        }
        setenv("TMPDIR", scratch.path().c_str(), 1);
        const pid_t child = unsfx.Start(
            {"extract", sources / "big.exe", "-o", destination, "-p", "secret", "--force"}, limits);
        unsetenv("TMPDIR");
        bool privateThroughout = true;
        if (row.meanwhile == Meanwhile::FolderRenamed) {
            if (WaitForOpenFile(child, "/mv1/")) {
                kill(child, SIGSTOP);
                std::filesystem::rename(dir / "mv1", dir / "mv2");
                kill(child, SIGCONT);
            }
        } else if (row.meanwhile == Meanwhile::Interrupted) {
            if (WaitForOpenFile(child, "/locked/out"))
                kill(child, SIGINT);
        } else {
            int status = 0;
            while (waitpid(child, &status, WNOHANG) == 0) {
                for (const std::string& entry : scratch.Entries()) {
                    struct stat info;
                    if (stat((scratch / entry).c_str(), &info) == 0 && (info.st_mode & 077) != 0)
                        privateThroughout = false;
                }
            }
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << row.what;
        }
        const int exit = row.meanwhile == Meanwhile::StagedCopyWatched ? 0 : ExitStatusOf(child);
        switch (row.meanwhile) {
            case Meanwhile::FolderRenamed:
                if (!std::filesystem::exists(dir / "mv2")) {
                    std::printf("skipped: %s (the run ended first)\n", row.what);
                    break;
                }
                EXPECT_EQ(exit, 0) << row.what;
                EXPECT_EQ(dir.Entries(), std::vector<std::string>{"mv2"}) << row.what;
                EXPECT_EQ(ReadBytes(dir / "mv2/out"), plain) << row.what;
                {
                    std::size_t entries = 0;
                    for ([[maybe_unused]] const auto& entry :
                         std::filesystem::directory_iterator(dir / "mv2"))
                        ++entries;
                    EXPECT_EQ(entries, 1u) << row.what << ": a copy left beside the result";
                }
                break;
            case Meanwhile::StagedCopyWatched:
                EXPECT_TRUE(privateThroughout) << row.what;
                EXPECT_EQ(ReadBytes(destination), plain) << row.what;
                break;
            case Meanwhile::Interrupted: {
                const Bytes after = ReadBytes(destination);
                EXPECT_TRUE(after == before || after == plain)
                    << row.what << ": " << after.size() << " bytes, exit " << exit;
                break;
            }
        }
        EXPECT_TRUE(scratch.Entries().empty()) << row.what;
    }
}

// What unsfx says when a write fails: the reason the system gave, on whichever thread met
// it; after a damaged code stream, that the data is damaged and where the stream was kept.
TEST(HostileDestinationTest, MessagesSayWhy) {
    enum class Case { FileSizeLimit, FullDevice, ClosedPipe, FullFileSystem, DamagedStream };
    const struct {
        const char* what;
        Case kind;
        int exit;
        std::vector<std::string> said;
    } rows[] = {
        {"past the file-size limit", Case::FileSizeLimit, WriteFailed, {"File too large"}},
        {"-o - into /dev/full", Case::FullDevice, WriteFailed, {"No space left on device"}},
        {"-o - into a closed pipe", Case::ClosedPipe, WriteFailed, {"Broken pipe"}},
        {"in place on a full file system",
         Case::FullFileSystem,
         WriteFailed,
         {"cannot write", "No space left on device"}},
        {"a damaged code stream, the folder takes no new file",
         Case::DamagedStream,
         DecompressFailed,
         {"the compressed data is damaged", "kept in", "takes no new file"}},
    };
    const Bytes plain = TextBytes(2000000, 41);
    UnsfxCopy unsfx;
    for (const auto& row : rows) {
        TempDir dir;
        TempDir scratch;
        std::filesystem::permissions(dir.path(), std::filesystem::perms::all);
        std::filesystem::permissions(scratch.path(), std::filesystem::perms::all);
        ContainerSpec packed;
        packed.compressed = true;
        Bytes stream = Intermediate(plain);
        stream.resize(stream.size() - 40);  // the code stream ends early, the sum is sound
        WriteBytes(dir / "file.exe", row.kind == Case::DamagedStream ? MakeContainer(stream, packed)
                                                                     : MakeContainer(plain));
        chmod((dir / "file.exe").c_str(), 0644);
        Limits limits;
        std::string destination = dir / "out";
        Bytes before;
        int output = -1;
        int ends[2] = {-1, -1};
        bool mounted = false;
        switch (row.kind) {
            case Case::FileSizeLimit:
                limits.fileSize = 1024000;  // ulimit -f 1000
                break;
            case Case::FullDevice:
                destination = "-";
                output = open("/dev/full", O_WRONLY | O_CLOEXEC);
                break;
            case Case::ClosedPipe:
                destination = "-";
                ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
                close(ends[0]);
                output = ends[1];
                break;
            case Case::FullFileSystem:
                std::filesystem::create_directory(dir / "small");
                if (geteuid() != 0 ||
                    mount("none", (dir / "small").c_str(), "tmpfs", 0, "size=1m") != 0) {
                    std::printf("skipped: %s (no tmpfs to mount)\n", row.what);
                    continue;
                }
                mounted = true;
                before = RandomBytes(100000, 42);
                destination = LockedFolderWithFile(dir / "small", before);
                limits.unprivileged = true;
                break;
            case Case::DamagedStream:
                if (geteuid() != 0) {
                    std::printf("skipped: %s (needs root)\n", row.what);
                    continue;
                }
                before = BytesOf("what stood there");
                destination = LockedFolderWithFile(dir.path(), before);
                limits.unprivileged = true;
                break;
        }
        const std::string said = scratch / "said";
        const int errors = open(said.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        setenv("TMPDIR", scratch.path().c_str(), 1);
        const pid_t child =
            unsfx.Start({"extract", dir / "file.exe", "-o", destination, "-p", "secret", "--force"},
                        limits, output, errors);
        unsetenv("TMPDIR");
        close(errors);
        if (output >= 0)
            close(output);
        EXPECT_EQ(ExitStatusOf(child), row.exit) << row.what;
        const Bytes text = ReadBytes(said);
        const std::string message(text.begin(), text.end());
        for (const std::string& part : row.said)
            EXPECT_NE(message.find(part), std::string::npos) << row.what << ": " << message;
        if (!before.empty()) {
            EXPECT_EQ(ReadBytes(destination), before) << row.what;
        }
        if (row.kind == Case::DamagedStream) {
            // Kept where the message says, in the folder for temporary files.
            EXPECT_EQ(scratch.Entries().size(), 2u) << row.what;
            EXPECT_NE(message.find(scratch.path().string()), std::string::npos) << message;
        }
        if (mounted)
            umount((dir / "small").c_str());
    }
}

// In a child with a private mount namespace and a /dev of its own, where /dev/stdout and
// /dev/fd are links as the system makes them: runs unsfx with `arguments`, its standard
// output to `output`. The exit status, with DescriptorLeft added when /dev/stdout is no
// longer a link afterwards; CannotRestrict when no namespace can be had.
int InPrivateDev(const UnsfxCopy& unsfx, const std::vector<std::string>& arguments, int output) {
    const pid_t child = fork();
    if (child == 0) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount("none", "/dev", "tmpfs", 0, "mode=755") != 0 ||
            mknod("/dev/null", S_IFCHR | 0666, makedev(1, 3)) != 0 ||
            symlink("/proc/self/fd/1", "/dev/stdout") != 0 ||
            symlink("/proc/self/fd", "/dev/fd") != 0)
            _exit(CannotRestrict);
        const int exit = ExitStatusOf(unsfx.Start(arguments, {}, output));
        struct stat info;
        const bool link = lstat("/dev/stdout", &info) == 0 && S_ISLNK(info.st_mode);
        _exit(exit | (link ? 0 : DescriptorLeft));
    }
    return ExitStatusOf(child);
}

// -o names an open descriptor: written as -o - writes, with or without --force, never
// replaced by a file.
TEST(HostileDestinationTest, DescriptorNamesAreStreams) {
    const Bytes plain = TextBytes(300000, 51);
    UnsfxCopy unsfx;
    for (const char* name : {"/dev/stdout", "/dev/fd/1"}) {
        for (bool force : {false, true}) {
            TempDir dir;
            WriteBytes(dir / "file.exe", MakeContainer(plain));
            const std::string what = std::string(name) + (force ? ", --force" : "");
            const int output = open((dir / "output").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
            std::vector<std::string> arguments = {"extract", dir / "file.exe", "-o", name,
                                                  "-p",      "secret"};
            if (force)
                arguments.push_back("--force");
            const int exit = InPrivateDev(unsfx, arguments, output);
            close(output);
            if (exit == CannotRestrict)
                GTEST_SKIP() << "no private mount namespace here";
            EXPECT_EQ(exit, 0) << what;
            EXPECT_EQ(ReadBytes(dir / "output"), plain) << what;
        }
    }
}

// Three runs in one second, each the first process of its own PID namespace, each keeping
// the stream of a damaged payload under a name of its own: the names differ.
TEST(HostileDestinationTest, StagingNamesAreUnforeseeable) {
    Bytes stream = Intermediate(TextBytes(50000, 52));
    stream.resize(stream.size() - 40);
    ContainerSpec packed;
    packed.compressed = true;
    UnsfxCopy unsfx;
    TempDir dirs[3];
    pid_t children[3];
    for (int run = 0; run < 3; ++run) {
        WriteBytes(dirs[run] / "file.exe", MakeContainer(stream, packed));
        WriteBytes(dirs[run] / "out.lzw", BytesOf("taken"));  // the stream keeps its own name
    }
    for (int run = 0; run < 3; ++run) {
        children[run] = fork();
        if (children[run] == 0) {
            if (unshare(CLONE_NEWPID) != 0)
                _exit(CannotRestrict);
            _exit(ExitStatusOf(unsfx.Start(
                {"extract", dirs[run] / "file.exe", "-o", dirs[run] / "out", "-p", "secret"}, {})));
        }
    }
    std::vector<std::string> names;
    for (int run = 0; run < 3; ++run) {
        const int exit = ExitStatusOf(children[run]);
        if (exit == CannotRestrict)
            GTEST_SKIP() << "no PID namespace here";
        EXPECT_EQ(exit, DecompressFailed);
        for (const std::string& entry : dirs[run].Entries()) {
            if (entry[0] == '~')
                names.push_back(entry);
        }
    }
    ASSERT_EQ(names.size(), 3u);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(std::unique(names.begin(), names.end()), names.end()) << names[0];
}
}  // namespace
}  // namespace sfx
