// Extractions that fail must not take away anything that stood there before: not the source,
// not a folder that happens to carry the intermediate file's name.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/job.h"
#include "tests/support/test_support.h"

namespace sfx {
namespace {

using namespace test;

TEST(NothingLostTest, SourceThatCarriesTheIntermediateName) {
    // "data.lzw" extracted to "data": the name ".lzw" beside the destination is the source
    // itself, under its own name or under another one (a hard link). The run's stream has
    // a name of its own, so the source stays as it was.
    TempDir dir;
    const Bytes plain = TextBytes(20000, 1);
    const Bytes packed = MakeContainer(Intermediate(plain), {.compressed = true});
    const std::string source = dir / "data.lzw";
    WriteBytes(source, packed);
    std::filesystem::create_hard_link(source, dir / "link.lzw");

    ExtractionJob job;
    for (const char* destination : {"data", "link"}) {
        EXPECT_TRUE(job.Extract(source.c_str(), (dir / destination).c_str(), "secret"));
        EXPECT_EQ(ReadBytes(dir / destination), plain) << destination;
        EXPECT_EQ(ReadBytes(source), packed) << destination;
        EXPECT_FALSE(job.Extract(source.c_str(), (dir / destination).c_str(), "wrong"));
        EXPECT_EQ(ReadBytes(source), packed) << destination;
    }
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"data", "data.lzw", "link", "link.lzw"}));

    // Any other name extracts as usual.
    ASSERT_TRUE(job.Extract(source.c_str(), (dir / "data.txt").c_str(), "secret"));
    EXPECT_EQ(ReadBytes(dir / "data.txt"), plain);
    EXPECT_EQ(ReadBytes(source), packed);
}

TEST(NothingLostTest, FolderAtTheIntermediatePath) {
    TempDir dir;
    WriteBytes(dir / "packed.exe",
               MakeContainer(Intermediate(BytesOf("abc")), {.compressed = true}));
    std::filesystem::create_directory(dir / "out.lzw");
    ExtractionJob job;
    EXPECT_TRUE(job.Extract((dir / "packed.exe").c_str(), (dir / "out").c_str(), "secret"));
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out.lzw"));
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"out", "out.lzw", "packed.exe"}));
}

TEST(NothingLostTest, FolderAsSourceCannotBeRead) {
    TempDir dir;
    std::filesystem::create_directory(dir / "folder.exe");
    ExtractionJob job;
    EXPECT_FALSE(job.Extract((dir / "folder.exe").c_str(), (dir / "out").c_str(), "secret"));
    EXPECT_EQ(job.status, ReadFailed);
    char riddle[256] = "untouched";
    EXPECT_FALSE(job.ReadRiddle((dir / "folder.exe").c_str(), riddle, nullptr));
    EXPECT_STREQ(riddle, "untouched");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"folder.exe"});
}

}  // namespace
}  // namespace sfx
