// Damaged-input sweeps: a small packed file cut at every length, and every byte of its header
// and trailer replaced by a few values. Whatever the damage: no crash or hang, a failure
// status in {1, 2, 3, 4, 6, 7} or success with the right bytes, the destination as it was on
// failure, nothing left beside it but the intermediate file of a failed decompression, and
// no file left open.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/container.h"
#include "engine/job.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

using test::Bytes;
using test::BytesOf;

constexpr std::size_t StubSize = 13;  // "MZ-stub-bytes"
constexpr int CompressedOffset = 6;

struct Sample {
    Bytes plain;    // the user's file
    Bytes payload;  // what the container holds: the plain file or its intermediate stream
    Bytes file;     // the whole self-extracting file
    bool compressed;
};

Sample MakeSample(bool compressed) {
    Sample sample;
    sample.compressed = compressed;
    sample.plain = test::TextBytes(700, 11);
    sample.payload = compressed ? test::Intermediate(sample.plain) : sample.plain;
    test::ContainerSpec spec;
    spec.compressed = compressed;
    spec.riddle = "a hint";
    spec.description = BytesOf(std::string("Sweep", 6));  // with its NUL
    sample.file = test::MakeContainer(sample.payload, spec);
    return sample;
}

class Sweep {
  public:
    explicit Sweep(const Sample& sample) : sample_(sample) {}

    // Extracts `file` and checks the outcome; returns the status for the caller's counts.
    ExtractStatus Check(const Bytes& file, const std::string& what) {
        test::WriteBytes(source_, file);
        test::WriteBytes(destination_, before_);
        const int descriptors = test::OpenDescriptorCount();

        ExtractionJob job;
        const bool ok = job.Extract(source_.c_str(), destination_.c_str(), "secret");
        EXPECT_EQ(test::OpenDescriptorCount(), descriptors) << what;
        const auto entries = dir_.Entries();
        const Bytes written = test::ReadBytes(destination_);
        if (ok) {
            EXPECT_EQ(job.status, Ok) << what;
            // A header that says "not compressed" yields the stored stream itself.
            const bool stored =
                file.size() == sample_.file.size() && file[StubSize + CompressedOffset] == 0;
            EXPECT_EQ(written, stored ? sample_.payload : sample_.plain) << what;
            EXPECT_EQ(entries, (std::vector<std::string>{"out", "source.exe"})) << what;
        } else {
            const int status = job.status;
            EXPECT_TRUE(status == 1 || status == 2 || status == 3 || status == 4 || status == 6 ||
                        status == 7)
                << what << ": status " << status;
            EXPECT_EQ(written, before_) << what;
            if (status == DecompressFailed) {
                EXPECT_EQ(entries, (std::vector<std::string>{"out", "out.lzw", "source.exe"}))
                    << what;
            } else {
                EXPECT_EQ(entries, (std::vector<std::string>{"out", "source.exe"})) << what;
            }
        }
        std::filesystem::remove(dir_ / "out.lzw");

        // The readers that the dialog calls on the same file stay within their buffers.
        char riddle[RiddleSize + 1];
        std::memset(riddle, 'R', sizeof riddle);
        if (job.ReadRiddle(source_.c_str(), riddle, nullptr)) {
            EXPECT_EQ(riddle[RiddleSize], 'R') << what;
            EXPECT_LT(std::strlen(riddle), std::size_t{RiddleSize}) << what;
        }
        char text[DescriptionBufferSize + 1];
        std::memset(text, 'D', sizeof text);
        EXPECT_TRUE(ReadDescription(source_.c_str(), text)) << what;
        EXPECT_EQ(text[DescriptionBufferSize], 'D') << what;
        EXPECT_EQ(test::OpenDescriptorCount(), descriptors) << what;
        return ok ? Ok : job.status;
    }

  private:
    const Sample& sample_;
    test::TempDir dir_;
    const std::string source_ = dir_ / "source.exe";
    const std::string destination_ = dir_ / "out";
    const Bytes before_ = BytesOf("what stood there before");
};

class SweepTest : public testing::TestWithParam<bool> {};

TEST_P(SweepTest, EveryTruncation) {
    const Sample sample = MakeSample(GetParam());
    Sweep sweep(sample);
    ASSERT_EQ(sweep.Check(sample.file, "whole file"), Ok);
    for (std::size_t length = 0; length < sample.file.size(); ++length) {
        const Bytes cut(sample.file.begin(), sample.file.begin() + length);
        EXPECT_NE(sweep.Check(cut, "cut to " + std::to_string(length)), Ok);
    }
}

TEST_P(SweepTest, EveryHeaderAndTrailerByteReplaced) {
    const Sample sample = MakeSample(GetParam());
    Sweep sweep(sample);
    const std::size_t trailer = 4 + 6 + 1;  // L, the description and N
    std::vector<std::size_t> positions;
    for (std::size_t i = 0; i < ContainerHeaderSize; ++i) positions.push_back(StubSize + i);
    for (std::size_t i = sample.file.size() - trailer; i < sample.file.size(); ++i)
        positions.push_back(i);

    int failures = 0;
    for (std::size_t at : positions) {
        const std::uint8_t original = sample.file[at];
        for (int value : {0, 1, 0x7F, 0x80, 0xFF, original + 1}) {
            const auto replaced = static_cast<std::uint8_t>(value);
            if (replaced == original)
                continue;
            Bytes file = sample.file;
            file[at] = replaced;
            const std::string what =
                "byte " + std::to_string(at) + " set to " + std::to_string(replaced);
            if (sweep.Check(file, what) != Ok)
                ++failures;
        }
    }
    // The magic, the checksum and the trailer's lengths must all have been noticed.
    EXPECT_GT(failures, 5 * 6);
}

INSTANTIATE_TEST_SUITE_P(StoredAndCompressed, SweepTest, testing::Bool(),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? std::string("Compressed") : std::string("Stored");
                         });

}  // namespace
}  // namespace sfx
