// A container behind more than 2 GiB of stub is still found (64-bit seeks and lengths).
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include "engine/container.h"
#include "engine/job.h"
#include "platform/files.h"
#include "tests/support/test_support.h"

namespace sfx {
namespace {

using namespace test;

TEST(LargeFileTest, ContainerAfterMoreThanTwoGibibytes) {
    TempDir dir;
    const Bytes content = TextBytes(5000, 3);
    ContainerSpec spec;
    spec.stub = {};
    spec.riddle = "far away";
    spec.description = BytesOf("after the gap");
    const Bytes container = MakeContainer(content, spec);

    // A sparse gap of 2.25 GiB, then the container.
    const std::string path = dir / "big.exe";
    WriteBytes(path, BytesOf("MZ"));
    const std::uintmax_t gap = 0x90000000u;
    std::filesystem::resize_file(path, gap);
    std::FILE* file = platform::OpenFile(path.c_str(), "r+b");
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(platform::SeekFromEnd(file, 0));
    ASSERT_EQ(std::fwrite(container.data(), 1, container.size(), file), container.size());
    ASSERT_EQ(std::fclose(file), 0);

    ContainerHeader header;
    ExtractStatus failure = Ok;
    ContainerPlacement placement;
    ASSERT_TRUE(ReadContainerHeader(path.c_str(), header, failure, &placement));
    EXPECT_EQ(placement.fileSize, static_cast<std::int64_t>(gap + container.size()));
    EXPECT_EQ(placement.containerOffset, static_cast<std::int64_t>(gap));
    char text[DescriptionBufferSize] = {};
    ASSERT_TRUE(ReadDescription(path.c_str(), text));
    EXPECT_STREQ(text, "after the gap");

    ExtractionJob job;
    ASSERT_TRUE(job.Extract(path.c_str(), (dir / "out").c_str(), "secret")) << job.status;
    EXPECT_EQ(ReadBytes(dir / "out"), content);
}

}  // namespace
}  // namespace sfx
