// Damaged-input sweeps: a small packed file cut at every length, and every byte of its header
// and trailer replaced by a few values. Whatever the damage: no crash or hang, the promises of
// CheckedExtract with the right bytes on success, and the dialog's readers within their
// buffers.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "engine/container.h"
#include "engine/job.h"
#include "tests/support/extraction_check.h"

namespace sfx {
namespace {

using namespace test;

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
    sample.plain = TextBytes(700, 11);
    sample.payload = compressed ? Intermediate(sample.plain) : sample.plain;
    ContainerSpec spec;
    spec.compressed = compressed;
    spec.riddle = "a hint";
    spec.description = BytesOf(std::string("Sweep", 6));  // with its NUL
    sample.file = MakeContainer(sample.payload, spec);
    return sample;
}

class Sweep {
  public:
    explicit Sweep(const Sample& sample) : sample_(sample) {}

    // Extracts `file` and checks the outcome; returns the status for the caller's counts.
    ExtractStatus Check(const Bytes& file, const std::string& what) {
        WriteBytes(source_, file);
        const int descriptors = OpenDescriptorCount();
        // A header that says "not compressed" yields the stored stream itself.
        const bool stored =
            file.size() == sample_.file.size() && file[StubSize + CompressedOffset] == 0;
        const Outcome outcome =
            CheckedExtract(dir_, {.content = stored ? sample_.payload : sample_.plain});
        EXPECT_EQ(outcome.broken, "") << what << ": status " << outcome.status;

        // The readers that the dialog calls on the same file stay within their buffers.
        ExtractionJob job;
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
        EXPECT_EQ(OpenDescriptorCount(), descriptors) << what;
        return outcome.status;
    }

  private:
    const Sample& sample_;
    TempDir dir_;
    const std::string source_ = dir_ / "source.exe";
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
