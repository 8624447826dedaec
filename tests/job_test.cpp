#include "engine/job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "lzw/decompression_pass.h"
#include "tests/support/test_support.h"

namespace sfx {
namespace {

using namespace test;

// Watches the folder from inside the passes: the run's own files ("~" names), which only
// their owner may read, and the name ".lzw" beside the destination, which it never uses.
std::string watchedPath;
std::string watchedFolder;
bool sawWatchedPath = false;
std::size_t mostOwnFiles = 0;
int lzwCalls = 0;
void WatchPath(std::int32_t, std::int32_t) {
    if (std::filesystem::exists(watchedPath))
        sawWatchedPath = true;
    std::size_t own = 0;
    for (const auto& entry : std::filesystem::directory_iterator(watchedFolder)) {
        if (entry.path().filename().string()[0] != '~')
            continue;
        ++own;
#ifndef _WIN32
        EXPECT_EQ(entry.status().permissions(),
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
    }
    mostOwnFiles = std::max(mostOwnFiles, own);
}
void CountLzw(std::int32_t, std::int32_t) {
    ++lzwCalls;
}

TEST(ExtractTest, UncompressedAndCompressedSucceed) {
    TempDir dir;
    Bytes plain = TextBytes(300000, 1);
    WriteBytes(dir / "plain.exe", MakeContainer(plain));
    WriteBytes(dir / "packed.exe", MakeContainer(Intermediate(plain), {.compressed = true}));

    ExtractionJob job;
    lzwCalls = 0;
    job.SetLzwProgress(CountLzw);
    ASSERT_TRUE(job.Extract((dir / "plain.exe").c_str(), (dir / "a.txt").c_str(), "secret"));
    EXPECT_EQ(job.status, Ok);
    EXPECT_EQ(ReadBytes(dir / "a.txt"), plain);
    EXPECT_EQ(lzwCalls, 0);  // never reaches the decompression pass

    watchedPath = dir / "report.doc.lzw";
    watchedFolder = dir / "";
    sawWatchedPath = false;
    mostOwnFiles = 0;
    job.SetLzwProgress(WatchPath);
    job.SetDecryptProgress(WatchPath);
    ASSERT_TRUE(job.Extract((dir / "packed.exe").c_str(), (dir / "report.doc").c_str(), "secret"));
    // The staged file sits beside the destination, private, or has no name at all where the
    // file system allows it; the stream is decoded as it is decrypted, so no other file is
    // written.
    EXPECT_FALSE(sawWatchedPath);
    EXPECT_LE(mostOwnFiles, 1u);
    EXPECT_EQ(ReadBytes(dir / "report.doc"), plain);
    EXPECT_EQ(dir.Entries(),
              (std::vector<std::string>{"a.txt", "packed.exe", "plain.exe", "report.doc"}));
}

TEST(ExtractTest, ReplacesAnExistingFileOnlyOnSuccess) {
    TempDir dir;
    Bytes plain = RandomBytes(12345, 2);
    WriteBytes(dir / "plain.exe", MakeContainer(plain));
    WriteBytes(dir / "packed.exe", MakeContainer(Intermediate(plain), {.compressed = true}));
    const Bytes before = BytesOf("what stood there before");
    for (const char* source : {"plain.exe", "packed.exe"}) {
        WriteBytes(dir / "out", before);
        ExtractionJob job;
        EXPECT_FALSE(job.Extract((dir / source).c_str(), (dir / "out").c_str(), "wrong"));
        EXPECT_EQ(job.status, WrongPassword);
        EXPECT_EQ(ReadBytes(dir / "out"), before) << source;
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"out", "packed.exe", "plain.exe"}));

        // A second attempt on the same job reports only its own outcome.
        ASSERT_TRUE(job.Extract((dir / source).c_str(), (dir / "out").c_str(), "secret"));
        EXPECT_EQ(job.status, Ok);
        EXPECT_EQ(ReadBytes(dir / "out"), plain);
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
    WriteBytes(dir / "bad.exe", file);
    EXPECT_FALSE(job.Extract((dir / "bad.exe").c_str(), (dir / "out").c_str(), "pw"));
    EXPECT_EQ(job.status, DataDamaged);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"bad.exe"});
}

TEST(ExtractTest, FailedDecompressionKeepsTheIntermediateOnly) {
    TempDir dir;
    Bytes stream = Intermediate(TextBytes(50000, 3));
    stream.resize(stream.size() - 40);  // the code stream ends early
    WriteBytes(dir / "packed.exe", MakeContainer(stream, {.compressed = true}));
    WriteBytes(dir / "out", BytesOf("old"));
    ExtractionJob job;
    EXPECT_FALSE(job.Extract((dir / "packed.exe").c_str(), (dir / "out").c_str(), "secret"));
    EXPECT_EQ(job.status, DecompressFailed);
    EXPECT_EQ(ReadBytes(dir / "out"), BytesOf("old"));
    EXPECT_EQ(ReadBytes(dir / "out.lzw"), stream);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"out", "out.lzw", "packed.exe"}));

    // A wrong magic in the decrypted stream is a decompression failure too.
    Bytes noMagic = Intermediate(BytesOf("abc"));
    noMagic[3] = '!';
    WriteBytes(dir / "magic.exe", MakeContainer(noMagic, {.compressed = true}));
    EXPECT_FALSE(job.Extract((dir / "magic.exe").c_str(), (dir / "m").c_str(), "secret"));
    EXPECT_EQ(job.status, DecompressFailed);
    EXPECT_FALSE(std::filesystem::exists(dir / "m"));
}

TEST(ExtractTest, DestinationsThatCannotBeWritten) {
    TempDir dir;
    Bytes plain = RandomBytes(1000, 4);
    WriteBytes(dir / "plain.exe", MakeContainer(plain));
    WriteBytes(dir / "packed.exe", MakeContainer(Intermediate(plain), {.compressed = true}));
    std::filesystem::create_directory(dir / "folder");
    for (const char* source : {"plain.exe", "packed.exe"}) {
        const int before = OpenDescriptorCount();
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
        EXPECT_EQ(OpenDescriptorCount(), before);
    }
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"folder", "packed.exe", "plain.exe"}));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "folder"));
}

TEST(ExtractTest, PathLimits) {
    TempDir dir;
    Bytes plain = BytesOf("payload");
    WriteBytes(dir / "plain.exe", MakeContainer(plain));
    WriteBytes(dir / "packed.exe", MakeContainer(Intermediate(plain), {.compressed = true}));
    const std::string base = dir / "";
    // A path of exactly `length` characters, through as many folders as names allow.
    auto pathOf = [&](std::size_t length) {
        std::string path = base;
        while (length - path.size() > 200) {
            path += std::string(150, 'd');
            std::filesystem::create_directory(path);
            path += '/';
        }
        return path + std::string(length - path.size(), 'p');
    };
    ExtractionJob job;
    // The platform's longest path fits an uncompressed extraction (255 characters on Windows),
    // four less a compressed one, whose stream may be kept under ".lzw".
    const std::size_t longest = MaxPathLength;
    for (std::size_t length : {std::size_t{1000}, longest}) {
        if (length > longest)
            continue;
        EXPECT_TRUE(job.Extract((dir / "plain.exe").c_str(), pathOf(length).c_str(), "secret"));
        EXPECT_EQ(ReadBytes(pathOf(length)), plain) << length;
    }
    EXPECT_FALSE(job.Extract((dir / "plain.exe").c_str(), pathOf(longest + 1).c_str(), "secret"));
    EXPECT_EQ(job.status, WriteFailed);
    EXPECT_TRUE(job.Extract((dir / "packed.exe").c_str(), pathOf(longest - 4).c_str(), "secret"));
    EXPECT_FALSE(job.Extract((dir / "packed.exe").c_str(), pathOf(longest - 3).c_str(), "secret"));
    EXPECT_EQ(job.status, WriteFailed);
    std::string huge(5000, 'h');
    EXPECT_FALSE(job.Extract((dir / "plain.exe").c_str(), huge.c_str(), "secret"));
    EXPECT_EQ(job.status, WriteFailed);
}

TEST(DecompressionPassTest, FramingAndOpenFailures) {
    TempDir dir;
    ExtractionJob job;
    auto run = [&](const Bytes& intermediate) {
        WriteBytes(dir / "in.lzw", intermediate);
        std::filesystem::remove(dir / "out");
        const int before = OpenDescriptorCount();
        bool ok = DecompressionPass::Run(job, (dir / "in.lzw").c_str(), (dir / "out").c_str());
        EXPECT_EQ(OpenDescriptorCount(), before);
        return ok;
    };
    EXPECT_TRUE(run(Intermediate({})));
    EXPECT_TRUE(ReadBytes(dir / "out").empty());

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
    WriteBytes(dir / "in.lzw", Intermediate(BytesOf("x")));
    EXPECT_FALSE(
        DecompressionPass::Run(job, (dir / "in.lzw").c_str(), (dir / "no/such/out").c_str()));
    EXPECT_EQ(job.status, WriteFailed);
    std::string tooLong(600, 'x');
    EXPECT_FALSE(DecompressionPass::Run(job, (dir / "in.lzw").c_str(), tooLong.c_str()));
    EXPECT_EQ(job.status, WriteFailed);

    // A run after failed ones behaves like a first run.
    job.status = Ok;
    Bytes plain = TextBytes(10000, 6);
    EXPECT_TRUE(run(Intermediate(plain)));
    EXPECT_EQ(ReadBytes(dir / "out"), plain);
    EXPECT_EQ(job.status, Ok);
}

}  // namespace
}  // namespace sfx
