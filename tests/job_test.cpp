#include "engine/job.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include "lzw/decompression_pass.h"
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
    watchedFolder = dir / "";
    sawWatchedPath = false;
    mostOwnFiles = 0;
    job.SetLzwProgress(WatchPath);
    job.SetDecryptProgress(WatchPath);
    ASSERT_TRUE(job.Extract((dir / "packed.exe").c_str(), (dir / "report.doc").c_str(), "secret"));
    // The staged file sits beside the destination, private; the stream is decoded as it is
    // decrypted, so no other file is written.
    EXPECT_FALSE(sawWatchedPath);
    EXPECT_EQ(mostOwnFiles, 1u);
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
        EXPECT_EQ(test::ReadBytes(pathOf(length)), plain) << length;
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
