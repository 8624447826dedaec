#include "engine/container.h"

#include <gtest/gtest.h>

#include <cstring>

#include "engine/job.h"
#include "platform/bytes.h"
#include "tests/support/test_support.h"

namespace sfx {
namespace {

using namespace test;

TEST(ContainerTest, LocatesTheContainerFromTheTrailerWhateverTheStub) {
    TempDir dir;
    Bytes payload = BytesOf("hello, world: a payload of some bytes");
    for (std::size_t stubSize : {0u, 1u, 4096u, 70001u}) {
        ContainerSpec spec;
        spec.stub = RandomBytes(stubSize, 7);
        spec.riddle = "my hint";
        spec.description = BytesOf(std::string("Report\0", 7));
        WriteBytes(dir / "sfx.exe", MakeContainer(payload, spec));

        ContainerHeader header;
        ExtractStatus failure = Ok;
        ContainerPlacement where;
        ASSERT_TRUE(ReadContainerHeader((dir / "sfx.exe").c_str(), header, failure, &where));
        EXPECT_EQ(where.containerOffset, static_cast<std::int64_t>(stubSize));
        EXPECT_EQ(where.payloadSize, static_cast<std::int32_t>(payload.size()));
        EXPECT_EQ(where.descriptionLength, 7);
        EXPECT_EQ(header.checksum, ByteSum(payload));
        EXPECT_STREQ(header.riddle, "my hint");

        std::FILE* file = nullptr;
        std::int32_t payloadSize = -1;
        ASSERT_TRUE(OpenContainer((dir / "sfx.exe").c_str(), header, file, payloadSize, failure));
        EXPECT_EQ(std::ftell(file), static_cast<long>(stubSize + ContainerHeaderSize));
        std::fclose(file);
    }
}

TEST(ContainerTest, DescriptionLengthsAtTheirLimits) {
    TempDir dir;
    char text[256];
    for (int n : {0, 1, 255}) {
        ContainerSpec spec;
        spec.description.assign(n, 'd');
        if (n > 0)
            spec.description.back() = 0;
        WriteBytes(dir / "f", MakeContainer(BytesOf("abc"), spec));
        ContainerHeader header;
        ExtractStatus failure = Ok;
        EXPECT_TRUE(ReadContainerHeader((dir / "f").c_str(), header, failure)) << n;
        std::memset(text, 'x', sizeof text);
        ASSERT_TRUE(ReadDescription((dir / "f").c_str(), text));
        EXPECT_EQ(std::strlen(text), n == 0 ? 0u : static_cast<std::size_t>(n - 1));
    }
    // A description without its NUL is still terminated inside the buffer.
    ContainerSpec spec;
    spec.description.assign(255, 'e');
    WriteBytes(dir / "f", MakeContainer(BytesOf("abc"), spec));
    ASSERT_TRUE(ReadDescription((dir / "f").c_str(), text));
    EXPECT_EQ(std::strlen(text), 255u);
}

TEST(ContainerTest, DescriptionNeedsNoValidContainer) {
    TempDir dir;
    char text[256] = "untouched";
    EXPECT_FALSE(ReadDescription((dir / "missing").c_str(), text));
    EXPECT_STREQ(text, "untouched");

    WriteBytes(dir / "zero", Bytes{1, 2, 3, 0});
    EXPECT_TRUE(ReadDescription((dir / "zero").c_str(), text));
    EXPECT_STREQ(text, "");

    WriteBytes(dir / "short", Bytes{'a', 'b', 9});  // N = 9 but only 2 bytes before it
    std::strcpy(text, "x");
    EXPECT_TRUE(ReadDescription((dir / "short").c_str(), text));
    EXPECT_STREQ(text, "");

    WriteBytes(dir / "empty", Bytes{});
    EXPECT_TRUE(ReadDescription((dir / "empty").c_str(), text));
    EXPECT_STREQ(text, "");

    Bytes broken = BytesOf("junk junk junk");
    broken.insert(broken.end(), {'H', 'i', '!', 0, 4});
    WriteBytes(dir / "broken", broken);
    EXPECT_TRUE(ReadDescription((dir / "broken").c_str(), text));
    EXPECT_STREQ(text, "Hi!");
}

TEST(ContainerTest, MagicAndReservedBytes) {
    TempDir dir;
    Bytes file = MakeContainer(BytesOf("payload"));
    const std::size_t at = BytesOf("MZ-stub-bytes").size();
    file[at + 7] = 2;
    file[at + 8] = 1;
    std::memset(&file[at + 9], 0xAB, 7);
    WriteBytes(dir / "ok", file);
    ContainerHeader header;
    ExtractStatus failure = Ok;
    EXPECT_TRUE(ReadContainerHeader((dir / "ok").c_str(), header, failure));

    file[at + 4] = 'X';  // "ZARN" without its NUL
    WriteBytes(dir / "bad", file);
    EXPECT_FALSE(ReadContainerHeader((dir / "bad").c_str(), header, failure));
    EXPECT_EQ(failure, DataDamaged);

    EXPECT_FALSE(ReadContainerHeader((dir / "missing").c_str(), header, failure));
    EXPECT_EQ(failure, ReadFailed);
}

// A trailer that does not fit the file must never let the defaults of a fresh header
// (which carry a valid magic) pass for a container.
TEST(ContainerTest, TrailersThatDoNotFitAreDamaged) {
    TempDir dir;
    auto trailer = [](std::uint32_t length, std::size_t before) {
        Bytes file(before + 5, 0);
        StoreLE32(file.data() + before, length);
        return file;
    };
    const std::vector<std::pair<const char*, Bytes>> cases = {
        {"empty", {}},
        {"one byte", {0}},
        {"N beyond file", {1, 2, 3, 200}},
        {"L below 280", trailer(279, 279)},
        {"L negative", trailer(0x80000000u, 300)},
        {"L beyond start", trailer(300, 299)},
        {"L of -1", trailer(0xFFFFFFFFu, 10)},
    };
    for (const auto& [name, bytes] : cases) {
        WriteBytes(dir / "f", bytes);
        ContainerHeader header;
        ExtractStatus failure = Ok;
        EXPECT_FALSE(ReadContainerHeader((dir / "f").c_str(), header, failure)) << name;
        EXPECT_EQ(failure, DataDamaged) << name;
        std::FILE* file = nullptr;
        std::int32_t size = 0;
        EXPECT_FALSE(OpenContainer((dir / "f").c_str(), header, file, size, failure)) << name;
        EXPECT_EQ(file, nullptr);
    }
}

TEST(ContainerTest, EmptyPayloadIsAValidContainer) {
    TempDir dir;
    WriteBytes(dir / "f", MakeContainer(Bytes{}));
    ContainerHeader header;
    ExtractStatus failure = Ok;
    ContainerPlacement where;
    ASSERT_TRUE(ReadContainerHeader((dir / "f").c_str(), header, failure, &where));
    EXPECT_EQ(where.payloadSize, 0);
}

TEST(RiddleTest, ReadsTheHintBounded) {
    TempDir dir;
    ExtractionJob job;
    char riddle[256];
    std::uint8_t isProtected = 99;

    ContainerSpec spec;
    spec.passwordProtected = false;
    WriteBytes(dir / "none", MakeContainer(BytesOf("x"), spec));
    std::strcpy(riddle, "stale");
    ASSERT_TRUE(job.ReadRiddle((dir / "none").c_str(), riddle, &isProtected));
    EXPECT_STREQ(riddle, "");
    EXPECT_EQ(isProtected, 0);

    spec.riddle = std::string(255, 'r');
    WriteBytes(dir / "long", MakeContainer(BytesOf("x"), spec));
    ASSERT_TRUE(job.ReadRiddle((dir / "long").c_str(), riddle, nullptr));
    EXPECT_EQ(std::string(riddle), std::string(255, 'r'));

    // A field without any NUL yields its first 255 characters.
    spec.riddle = std::string(256, 's');
    WriteBytes(dir / "full", MakeContainer(BytesOf("x"), spec));
    ASSERT_TRUE(job.ReadRiddle((dir / "full").c_str(), riddle, nullptr));
    EXPECT_EQ(std::string(riddle), std::string(255, 's'));
    EXPECT_EQ(job.status, Ok);
}

TEST(RiddleTest, FailuresLeaveOutputsAlone) {
    TempDir dir;
    ExtractionJob job;
    char riddle[256] = "keep";
    std::uint8_t isProtected = 42;
    EXPECT_FALSE(job.ReadRiddle((dir / "missing").c_str(), riddle, &isProtected));
    EXPECT_EQ(job.status, Ok);
    Bytes file = MakeContainer(BytesOf("x"));
    file[BytesOf("MZ-stub-bytes").size()] = 'Y';
    WriteBytes(dir / "bad", file);
    EXPECT_FALSE(job.ReadRiddle((dir / "bad").c_str(), riddle, &isProtected));
    EXPECT_EQ(job.status, DataDamaged);
    EXPECT_STREQ(riddle, "keep");
    EXPECT_EQ(isProtected, 42);
}

TEST(StatusTest, MessagesFollowTheTable) {
    EXPECT_STREQ(StatusMessage(WrongPassword),
                 "The passsword you have entered is incorrect. Please enter the correct password");
    EXPECT_STREQ(StatusMessage(DataDamaged), "Data is damaged!");
    EXPECT_STREQ(StatusMessage(0), "");
    EXPECT_STREQ(StatusMessage(5), "");
    ExtractionJob job;
    EXPECT_EQ(job.decryptProgress, &NoProgress);
    EXPECT_EQ(job.lzwProgress, &NoProgress);
    EXPECT_EQ(job.status, Ok);
    EXPECT_EQ(job.decryptStatus, Ok);
}

}  // namespace
}  // namespace sfx
