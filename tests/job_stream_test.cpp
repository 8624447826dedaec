// Test and ExtractToStream: the job's operations that keep no file of their own.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "cipher/decryption_pass.h"
#include "engine/job.h"
#include "lzw/decompression_pass.h"
#include "platform/worker.h"
#include "tests/support/test_support.h"

namespace sfx {
namespace {

using namespace test;

// An intermediate file whose first code (511 at 9 bits) names no dictionary entry.
Bytes BrokenIntermediate() {
    Bytes bytes = BytesOf(std::string("lzw") + '\0');
    bytes.insert(bytes.end(), 64, 0xFF);
    return bytes;
}

// Points the temporary folder at a scratch folder of its own, so that what the job leaves
// behind there can be seen; the sources live in a second folder.
class JobStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* old = std::getenv("TMPDIR");
        if (old != nullptr) {
            oldTmp_ = old;
            hadTmp_ = true;
        }
        SetEnv("TMPDIR", temp_.path().c_str(), 1);
        plain_ = TextBytes(120000, 7);
        WriteSource("plain.exe", MakeContainer(plain_));
        WriteSource("packed.exe", MakeContainer(Intermediate(plain_), {.compressed = true}));
        WriteSource("broken.exe", MakeContainer(BrokenIntermediate(), {.compressed = true}));
    }
    void TearDown() override {
        if (hadTmp_)
            SetEnv("TMPDIR", oldTmp_.c_str(), 1);
        else
            UnsetEnv("TMPDIR");
    }
    void WriteSource(const std::string& name, const Bytes& bytes) {
        WriteBytes(sources_ / name, bytes);
    }
    std::string Source(const std::string& name) { return sources_ / name; }
    // Nothing but the sources, and nothing in the temporary folder.
    void ExpectNothingLeft() {
        EXPECT_TRUE(temp_.Entries().empty());
        EXPECT_EQ(sources_.Entries(),
                  (std::vector<std::string>{"broken.exe", "packed.exe", "plain.exe"}));
    }

    TempDir temp_;
    TempDir sources_;
    Bytes plain_;
    std::string oldTmp_;
    bool hadTmp_ = false;
};

// Reads back what was written to a stream.
Bytes Contents(std::FILE* stream) {
    std::fflush(stream);
    std::rewind(stream);
    Bytes bytes;
    int c;
    while ((c = std::fgetc(stream)) != EOF) bytes.push_back(static_cast<std::uint8_t>(c));
    return bytes;
}

int decryptEnds = 0;
int lzwEnds = 0;
void CountDecryptEnds(std::int32_t done, std::int32_t total) {
    if (done == 0 && total == 0)
        ++decryptEnds;
}
void CountLzwEnds(std::int32_t done, std::int32_t total) {
    if (done == 0 && total == 0)
        ++lzwEnds;
}

TEST_F(JobStreamTest, TestPassesAndKeepsNothing) {
    ExtractionJob job;
    decryptEnds = lzwEnds = 0;
    job.SetDecryptProgress(CountDecryptEnds);
    job.SetLzwProgress(CountLzwEnds);
    EXPECT_TRUE(job.Test(Source("plain.exe").c_str(), "secret"));
    EXPECT_TRUE(job.Test(Source("packed.exe").c_str(), "secret"));
    EXPECT_EQ(job.status, Ok);
    EXPECT_EQ(decryptEnds, 2);
    EXPECT_EQ(lzwEnds, 1);
    ExpectNothingLeft();
}

TEST_F(JobStreamTest, TestFailuresKeepNothing) {
    ExtractionJob job;
    EXPECT_FALSE(job.Test(Source("plain.exe").c_str(), "wrong"));
    EXPECT_EQ(job.status, WrongPassword);
    EXPECT_FALSE(job.Test(Source("packed.exe").c_str(), "wrong"));
    EXPECT_EQ(job.status, WrongPassword);
    EXPECT_FALSE(job.Test(Source("broken.exe").c_str(), "secret"));
    EXPECT_EQ(job.status, DecompressFailed);
    EXPECT_FALSE(job.Test(Source("missing.exe").c_str(), "secret"));
    EXPECT_EQ(job.status, ReadFailed);
    ExpectNothingLeft();
}

TEST_F(JobStreamTest, TestFallsBackBesideTheSource) {
    SetEnv("TMPDIR", (temp_ / "no such folder").c_str(), 1);
    ExtractionJob job;
    EXPECT_TRUE(job.Test(Source("packed.exe").c_str(), "secret"));
    EXPECT_FALSE(job.Test(Source("broken.exe").c_str(), "secret"));
    ExpectNothingLeft();
}

TEST_F(JobStreamTest, ExtractToStreamWritesTheFile) {
    ExtractionJob job;
    for (const char* name : {"plain.exe", "packed.exe"}) {
        std::FILE* out = std::tmpfile();
        ASSERT_NE(out, nullptr);
        EXPECT_TRUE(job.ExtractToStream(Source(name).c_str(), out, "secret")) << name;
        EXPECT_EQ(Contents(out), plain_) << name;
        std::fclose(out);
    }
    ExpectNothingLeft();
}

TEST_F(JobStreamTest, ExtractToStreamReportsFailures) {
    ExtractionJob job;
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    // Uncompressed: the bytes went out before the sum showed the password wrong.
    EXPECT_FALSE(job.ExtractToStream(Source("plain.exe").c_str(), out, "wrong"));
    EXPECT_EQ(job.status, WrongPassword);
    EXPECT_EQ(Contents(out).size(), plain_.size());
    std::fclose(out);

    // Compressed: nothing is decoded from an unverified stream.
    out = std::tmpfile();
    EXPECT_FALSE(job.ExtractToStream(Source("packed.exe").c_str(), out, "wrong"));
    EXPECT_EQ(job.status, WrongPassword);
    EXPECT_TRUE(Contents(out).empty());
    EXPECT_FALSE(job.ExtractToStream(Source("broken.exe").c_str(), out, "secret"));
    EXPECT_EQ(job.status, DecompressFailed);
    EXPECT_FALSE(job.ExtractToStream(Source("missing.exe").c_str(), out, "secret"));
    EXPECT_EQ(job.status, ReadFailed);
    std::fclose(out);

    // A stream that takes no byte (a full disk) is a failed write, also when the whole output
    // fits the stream's buffer and would only go out when it is closed.
    WriteSource("small.exe", MakeContainer(Intermediate(BytesOf("small")), {.compressed = true}));
    for (const char* name : {"plain.exe", "packed.exe", "small.exe"}) {
        out = std::fopen("/dev/full", "wb");
        ASSERT_NE(out, nullptr);
        EXPECT_FALSE(job.ExtractToStream(Source(name).c_str(), out, "secret")) << name;
        EXPECT_EQ(job.status, WriteFailed) << name;
        std::fclose(out);
    }
    std::filesystem::remove(Source("small.exe"));
    ExpectNothingLeft();
}

using Calls = std::vector<std::pair<std::int32_t, std::int32_t>>;
Calls decryptCalls;
Calls lzwCalls;
void RecordDecrypt(std::int32_t done, std::int32_t total) {
    decryptCalls.emplace_back(done, total);
}
void RecordLzw(std::int32_t done, std::int32_t total) {
    lzwCalls.emplace_back(done, total);
}

// Decoding while decrypting, on one thread or several, leaves each progress slot the calls
// its pass makes on its own, and the same bytes; so do sums past 2^32 (17 MB of 0xFF).
TEST(DecodedAlongsideTest, EachSlotGetsItsPassCallsAndEveryByte) {
    TempDir dir;
    struct Row {
        Bytes plain;
        bool compressed;
    };
    const Row rows[] = {{TextBytes(1000, 1), true},
                        {TextBytes(700000, 2), true},
                        {RandomBytes(3000000, 3), true},
                        {Bytes(17000000, 0xFF), false},
                        {Bytes(17000000, 0xFF), true}};
    for (const Row& row : rows) {
        const Bytes stream = row.compressed ? Intermediate(row.plain) : row.plain;
        WriteBytes(dir / "in.exe", row.compressed ? MakeContainer(stream, {.compressed = true})
                                                  : MakeContainer(stream));
        // The calls each pass makes on its own: the decryption pass into a file, the
        // decompression pass from that file.
        std::filesystem::remove(dir / "in.lzw");  // the passes write new files
        std::filesystem::remove(dir / "out");
        ExtractionJob alone;
        alone.SetDecryptProgress(RecordDecrypt);
        alone.SetLzwProgress(RecordLzw);
        decryptCalls.clear();
        lzwCalls.clear();
        ASSERT_TRUE(DecryptionPass::Run(alone, (dir / "in.exe").c_str(), (dir / "in.lzw").c_str(),
                                        "secret"));
        const Calls decryptAlone = decryptCalls;
        if (row.compressed) {
            ASSERT_TRUE(
                DecompressionPass::Run(alone, (dir / "in.lzw").c_str(), (dir / "out").c_str()));
        }
        const Calls lzwAlone = lzwCalls;
        for (int threads : {1, 2, 8}) {
            platform::LimitThreads(threads);
            for (bool toStream : {false, true}) {
                ExtractionJob job;
                job.SetDecryptProgress(RecordDecrypt);
                job.SetLzwProgress(RecordLzw);
                decryptCalls.clear();
                lzwCalls.clear();
                std::filesystem::remove(dir / "got");
                bool ok;
                if (toStream) {
                    std::FILE* out = std::fopen((dir / "got").c_str(), "wb");
                    ok = job.ExtractToStream((dir / "in.exe").c_str(), out, "secret");
                    std::fclose(out);
                } else {
                    ok = job.Extract((dir / "in.exe").c_str(), (dir / "got").c_str(), "secret");
                }
                const std::string what = std::to_string(row.plain.size()) + " bytes, " +
                                         std::to_string(threads) + " threads" +
                                         (toStream ? ", to a stream" : "");
                EXPECT_TRUE(ok) << what;
                EXPECT_TRUE(ReadBytes(dir / "got") == row.plain) << what;
                EXPECT_EQ(decryptCalls, decryptAlone) << what;
                EXPECT_EQ(lzwCalls, lzwAlone) << what;
            }
        }
        platform::LimitThreads(0);
    }
}

}  // namespace
}  // namespace sfx
