#include "engine/job.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <csignal>
#include <cstring>
#include <filesystem>

#include "lzw/decompression_pass.h"
#include "platform/platform.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

using test::Bytes;
using test::BytesOf;
using test::MakeContainer;
using test::TempDir;

test::ContainerSpec Compressed() {
    test::ContainerSpec spec;
    spec.compressed = true;
    return spec;
}

// Watches the folder from inside the passes.
std::string watchedPath;
bool sawWatchedPath = false;
int lzwCalls = 0;
void WatchPath(std::int32_t, std::int32_t) {
    if (std::filesystem::exists(watchedPath))
        sawWatchedPath = true;
}
void CountLzw(std::int32_t, std::int32_t) {
    ++lzwCalls;
}

TEST(ExtractTest, UncompressedAndCompressedSucceed) {
    TempDir dir;
    Bytes plain = test::TextBytes(300000, 1);
    test::WriteBytes(dir / "plain.exe", MakeContainer(plain));
    test::WriteBytes(dir / "packed.exe", MakeContainer(test::Intermediate(plain), Compressed()));

    ExtractionJob job;
    lzwCalls = 0;
    job.SetLzwProgress(CountLzw);
    ASSERT_TRUE(job.Extract((dir / "plain.exe").c_str(), (dir / "a.txt").c_str(), "secret"));
    EXPECT_EQ(job.status, Ok);
    EXPECT_EQ(test::ReadBytes(dir / "a.txt"), plain);
    EXPECT_EQ(lzwCalls, 0);  // never reaches the decompression pass

    watchedPath = dir / "report.doc.lzw";
    sawWatchedPath = false;
    job.SetLzwProgress(WatchPath);
    ASSERT_TRUE(job.Extract((dir / "packed.exe").c_str(), (dir / "report.doc").c_str(), "secret"));
    EXPECT_TRUE(sawWatchedPath);  // the intermediate file sits beside the destination
    EXPECT_EQ(test::ReadBytes(dir / "report.doc"), plain);
    EXPECT_EQ(dir.Entries(),
              (std::vector<std::string>{"a.txt", "packed.exe", "plain.exe", "report.doc"}));
}

TEST(ExtractTest, ReplacesAnExistingFileOnlyOnSuccess) {
    TempDir dir;
    Bytes plain = test::RandomBytes(12345, 2);
    test::WriteBytes(dir / "plain.exe", MakeContainer(plain));
    test::WriteBytes(dir / "packed.exe", MakeContainer(test::Intermediate(plain), Compressed()));
    const Bytes before = BytesOf("what stood there before");
    for (const char* source : {"plain.exe", "packed.exe"}) {
        test::WriteBytes(dir / "out", before);
        ExtractionJob job;
        EXPECT_FALSE(job.Extract((dir / source).c_str(), (dir / "out").c_str(), "wrong"));
        EXPECT_EQ(job.status, WrongPassword);
        EXPECT_EQ(test::ReadBytes(dir / "out"), before) << source;
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"out", "packed.exe", "plain.exe"}));

        // A second attempt on the same job reports only its own outcome.
        ASSERT_TRUE(job.Extract((dir / source).c_str(), (dir / "out").c_str(), "secret"));
        EXPECT_EQ(job.status, Ok);
        EXPECT_EQ(test::ReadBytes(dir / "out"), plain);
    }
}

TEST(ExtractTest, SourceFailuresTouchNothing) {
    TempDir dir;
    ExtractionJob job;
    EXPECT_FALSE(job.Extract((dir / "missing.exe").c_str(), (dir / "out").c_str(), "pw"));
    EXPECT_EQ(job.status, ReadFailed);
    EXPECT_EQ(job.decryptStatus, Ok);

    Bytes file = MakeContainer(BytesOf("data"));
    file[BytesOf("MZ-stub-bytes").size() + 3] = 'x';
    test::WriteBytes(dir / "bad.exe", file);
    EXPECT_FALSE(job.Extract((dir / "bad.exe").c_str(), (dir / "out").c_str(), "pw"));
    EXPECT_EQ(job.status, DataDamaged);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"bad.exe"});
}

TEST(ExtractTest, FailedDecompressionKeepsTheIntermediateOnly) {
    TempDir dir;
    Bytes stream = test::Intermediate(test::TextBytes(50000, 3));
    stream.resize(stream.size() - 40);  // the code stream ends early
    test::WriteBytes(dir / "packed.exe", MakeContainer(stream, Compressed()));
    test::WriteBytes(dir / "out", BytesOf("old"));
    ExtractionJob job;
    EXPECT_FALSE(job.Extract((dir / "packed.exe").c_str(), (dir / "out").c_str(), "secret"));
    EXPECT_EQ(job.status, DecompressFailed);
    EXPECT_EQ(test::ReadBytes(dir / "out"), BytesOf("old"));
    EXPECT_EQ(test::ReadBytes(dir / "out.lzw"), stream);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"out", "out.lzw", "packed.exe"}));

    // A wrong magic in the decrypted stream is a decompression failure too.
    Bytes noMagic = test::Intermediate(BytesOf("abc"));
    noMagic[3] = '!';
    test::WriteBytes(dir / "magic.exe", MakeContainer(noMagic, Compressed()));
    EXPECT_FALSE(job.Extract((dir / "magic.exe").c_str(), (dir / "m").c_str(), "secret"));
    EXPECT_EQ(job.status, DecompressFailed);
    EXPECT_FALSE(std::filesystem::exists(dir / "m"));
}

TEST(ExtractTest, DestinationsThatCannotBeWritten) {
    TempDir dir;
    Bytes plain = test::RandomBytes(1000, 4);
    test::WriteBytes(dir / "plain.exe", MakeContainer(plain));
    test::WriteBytes(dir / "packed.exe", MakeContainer(test::Intermediate(plain), Compressed()));
    std::filesystem::create_directory(dir / "folder");
    for (const char* source : {"plain.exe", "packed.exe"}) {
        const int before = test::OpenDescriptorCount();
        ExtractionJob job;
        const std::string sourcePath = dir / source;
        auto fails = [&](const std::string& destination) {
            EXPECT_FALSE(job.Extract(sourcePath.c_str(), destination.c_str(), "secret"))
                << destination;
            EXPECT_EQ(job.status, WriteFailed) << destination;
        };
        fails(dir / "no-such-folder/out");
        fails(dir / "folder");  // a directory at the destination
        fails("");
        EXPECT_EQ(test::OpenDescriptorCount(), before);
    }
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"folder", "packed.exe", "plain.exe"}));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "folder"));
}

TEST(ExtractTest, PathLimits) {
    TempDir dir;
    Bytes plain = BytesOf("payload");
    test::WriteBytes(dir / "plain.exe", MakeContainer(plain));
    test::WriteBytes(dir / "packed.exe", MakeContainer(test::Intermediate(plain), Compressed()));
    const std::string base = dir / "";
    auto pathOf = [&](std::size_t length) { return base + std::string(length - base.size(), 'p'); };
    ExtractionJob job;
    // 255 characters fit an uncompressed extraction, 251 a compressed one.
    EXPECT_TRUE(job.Extract((dir / "plain.exe").c_str(), pathOf(255).c_str(), "secret"));
    EXPECT_FALSE(job.Extract((dir / "plain.exe").c_str(), pathOf(256).c_str(), "secret"));
    EXPECT_EQ(job.status, WriteFailed);
    EXPECT_TRUE(job.Extract((dir / "packed.exe").c_str(), pathOf(251).c_str(), "secret"));
    EXPECT_FALSE(job.Extract((dir / "packed.exe").c_str(), pathOf(252).c_str(), "secret"));
    EXPECT_EQ(job.status, WriteFailed);
    std::string huge(5000, 'h');
    EXPECT_FALSE(job.Extract((dir / "plain.exe").c_str(), huge.c_str(), "secret"));
    EXPECT_EQ(job.status, WriteFailed);
}

#ifndef _WIN32
// Runs an extraction in a child whose files may not grow beyond `limit` bytes.
int ExtractWithFileLimit(const std::string& source, const std::string& destination, rlim_t limit) {
    pid_t child = fork();
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit rl{limit, limit};
        setrlimit(RLIMIT_FSIZE, &rl);
        ExtractionJob job;
        bool ok = job.Extract(source.c_str(), destination.c_str(), "secret");
        _exit(ok ? 0 : job.status);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(ExtractTest, FullDiskNeverPassesForSuccess) {
    TempDir dir;
    Bytes plain = test::TextBytes(2000000, 5);
    Bytes stream = test::Intermediate(plain);
    test::WriteBytes(dir / "plain.exe", MakeContainer(plain));
    test::WriteBytes(dir / "packed.exe", MakeContainer(stream, Compressed()));
    test::WriteBytes(dir / "out", BytesOf("precious"));

    EXPECT_EQ(ExtractWithFileLimit(dir / "plain.exe", dir / "out", 100000), WriteFailed);
    // Room for the intermediate file but not for the decoded one.
    EXPECT_EQ(ExtractWithFileLimit(dir / "packed.exe", dir / "out", stream.size() + 10),
              DecompressFailed);
    EXPECT_EQ(ExtractWithFileLimit(dir / "packed.exe", dir / "out", 1000), WriteFailed);
    EXPECT_EQ(test::ReadBytes(dir / "out"), BytesOf("precious"));
    for (const auto& name : dir.Entries()) EXPECT_EQ(name.find("~sfx"), std::string::npos);
}
#endif

TEST(ExtractTest, OutOfMemoryInTheDecompressionPass) {
    TempDir dir;
    test::WriteBytes(dir / "packed.exe",
                     MakeContainer(test::Intermediate(BytesOf("abc")), Compressed()));
    for (int allowed : {0, 1}) {
        ExtractionJob job;
        platform::FailAllocationsAfter(allowed);
        EXPECT_FALSE(job.Extract((dir / "packed.exe").c_str(), (dir / "out").c_str(), "secret"));
        platform::FailAllocationsAfter(-1);
        EXPECT_EQ(job.status, OutOfMemory);
        EXPECT_FALSE(std::filesystem::exists(dir / "out"));
    }
}

TEST(DecompressionPassTest, FramingAndOpenFailures) {
    TempDir dir;
    ExtractionJob job;
    auto run = [&](const Bytes& intermediate) {
        test::WriteBytes(dir / "in.lzw", intermediate);
        std::filesystem::remove(dir / "out");
        const int before = test::OpenDescriptorCount();
        bool ok = DecompressionPass::Run(job, (dir / "in.lzw").c_str(), (dir / "out").c_str());
        EXPECT_EQ(test::OpenDescriptorCount(), before);
        return ok;
    };
    EXPECT_TRUE(run(test::Intermediate({})));
    EXPECT_TRUE(test::ReadBytes(dir / "out").empty());

    job.status = Ok;
    EXPECT_FALSE(run(Bytes{'l', 'z', 'w', 'x', 0, 0, 0}));
    EXPECT_EQ(job.status, DecompressFailed);
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
    EXPECT_FALSE(run(Bytes{'l', 'z', 'w'}));
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));

    job.status = Ok;
    EXPECT_FALSE(DecompressionPass::Run(job, (dir / "none").c_str(), (dir / "out").c_str()));
    EXPECT_EQ(job.status, WriteFailed);
    job.status = Ok;
    test::WriteBytes(dir / "in.lzw", test::Intermediate(BytesOf("x")));
    EXPECT_FALSE(
        DecompressionPass::Run(job, (dir / "in.lzw").c_str(), (dir / "no/such/out").c_str()));
    EXPECT_EQ(job.status, WriteFailed);
    std::string tooLong(600, 'x');
    EXPECT_FALSE(DecompressionPass::Run(job, (dir / "in.lzw").c_str(), tooLong.c_str()));
    EXPECT_EQ(job.status, WriteFailed);

    // A run after failed ones behaves like a first run.
    job.status = Ok;
    Bytes plain = test::TextBytes(10000, 6);
    EXPECT_TRUE(run(test::Intermediate(plain)));
    EXPECT_EQ(test::ReadBytes(dir / "out"), plain);
    EXPECT_EQ(job.status, Ok);
}

}  // namespace
}  // namespace sfx
