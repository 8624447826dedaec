#include "cipher/decryption_pass.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <climits>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <utility>
#include <vector>

#include "cipher/blowfish.h"
#include "cipher/byte_sum.h"
#include "cipher/key.h"
#include "engine/container.h"
#include "tests/support/test_support.h"

namespace sfx {
namespace {

using namespace test;

struct PassRun {
    bool ok;
    ExtractStatus status;
    Bytes output;
    Progress progress;
};

PassRun RunPass(const Bytes& container, const std::string& password) {
    TempDir dir;
    WriteBytes(dir / "sfx.exe", container);
    ExtractionJob job;
    job.SetDecryptProgress(RecordProgress);
    recordedProgress.clear();
    const int before = OpenDescriptorCount();
    PassRun run;
    run.ok = DecryptionPass::Run(job, (dir / "sfx.exe").c_str(), (dir / "out").c_str(),
                                 password.c_str());
    EXPECT_EQ(OpenDescriptorCount(), before) << "a stream was left open";
    run.status = job.decryptStatus;
    run.output = ReadBytes(dir / "out");
    run.progress = recordedProgress;
    return run;
}

Progress Expected(std::int32_t total) {
    Progress expected;
    for (std::int32_t done = 0; done <= total - total % 8; done += 8) {
        if (done % 5000 == 0)
            expected.emplace_back(done, total);
    }
    expected.emplace_back(0, 0);
    return expected;
}

TEST(DecryptionPassTest, DecryptsAndReportsProgressExactly) {
    for (std::int32_t size :
         {0,      1,      7,       8,       4999,    5000,    5003,    10000,
          64999,  65000,  65008,   130000,  200003,  259999,  260000,  260007,
          260008, 520005, 1000000, 1039999, 1040000, 1040007, 1040008, 2080005}) {
        Bytes payload = RandomBytes(size, size);
        PassRun run = RunPass(MakeContainer(payload), "secret");
        ASSERT_TRUE(run.ok) << size;
        EXPECT_EQ(run.status, Ok);
        EXPECT_EQ(run.output, payload) << size;
        EXPECT_EQ(run.progress, Expected(size)) << size;
    }
    // The listed sequences themselves, spelled out.
    EXPECT_EQ(Expected(5003), (decltype(Expected(0)){{0, 5003}, {5000, 5003}, {0, 0}}));
    EXPECT_EQ(Expected(10000),
              (decltype(Expected(0)){{0, 10000}, {5000, 10000}, {10000, 10000}, {0, 0}}));
    EXPECT_EQ(Expected(0), (decltype(Expected(0)){{0, 0}, {0, 0}}));
}

TEST(DecryptionPassTest, ProgressPointsOfTheLongestPayloads) {
    // Near 2^31 bytes a 32-bit position would overflow between the last point and the end.
    for (std::int32_t size : {2147480008, 2147483367, INT32_MAX}) {
        ExtractionJob job;
        job.SetDecryptProgress(RecordProgress);
        recordedProgress.clear();
        DecryptedPayload payload;
        payload.job = &job;
        payload.total = size;
        payload.blocksEnd = size & ~7;
        payload.Announce(0);
        payload.Announce(payload.blocksEnd / 2);
        payload.Announce(size);
        ASSERT_EQ(recordedProgress.size(), static_cast<std::size_t>((size & ~7) / 5000 + 1))
            << size;
        for (std::size_t i = 0; i < recordedProgress.size(); ++i) {
            EXPECT_EQ(recordedProgress[i],
                      std::make_pair(static_cast<std::int32_t>(i * 5000), size));
        }
    }
}

TEST(DecryptionPassTest, StoredBlocksAreLittleEndianHalves) {
    // Under the key of the password "secret" the block must equal the cipher's output
    // with each half stored least significant byte first.
    Bytes payload = {0, 1, 2, 3, 4, 5, 6, 7, 0xAA};
    Bytes container = MakeContainer(payload);
    std::uint8_t key[256];
    int length = DeriveKey("secret", true, key);
    BlowfishCipher::SetKey(key, static_cast<std::int16_t>(length));
    std::uint32_t l = 0x03020100, r = 0x07060504;
    BlowfishCipher::EncryptBlock(l, r);
    const std::size_t at = BytesOf("MZ-stub-bytes").size() + ContainerHeaderSize;
    EXPECT_EQ(container[at], l & 0xFF);
    EXPECT_EQ(container[at + 3], l >> 24);
    EXPECT_EQ(container[at + 4], r & 0xFF);
    EXPECT_EQ(container[at + 8], 0xAA);  // the tail is stored in the clear
    EXPECT_TRUE(RunPass(container, "secret").ok);

    // The published vector of the all-zero key, stored with little-endian halves.
    const std::uint8_t zeroKey[8] = {};
    BlowfishCipher::SetKey(zeroKey, 8);
    std::uint8_t block[8] = {0x45, 0x97, 0xF9, 0x4E, 0x78, 0xDD, 0x98, 0x61};
    BlowfishCipher::DecryptBlocksLE(block, 1);
    for (auto b : block) EXPECT_EQ(b, 0);
}

TEST(DecryptionPassTest, NoKeyScheduleOutlivesARun) {
    // Whether the run succeeds or fails, the cipher holds nothing of the key afterwards:
    // all-zero tables only exchange a block's halves.
    const Bytes container = MakeContainer(test::RandomBytes(300000, 5));
    for (const char* password : {"secret", "wrong"}) {
        RunPass(container, password);
        std::uint32_t l = 1, r = 2;
        BlowfishCipher::EncryptBlock(l, r);
        EXPECT_EQ(std::make_pair(l, r), std::make_pair(2u, 1u)) << password;
    }
}

TEST(DecryptionPassTest, KeyDerivation) {
    std::uint8_t a[256], b[256];
    // Unprotected: always "quib", whatever was typed.
    EXPECT_EQ(DeriveKey("anything at all", false, a), 4);
    EXPECT_EQ(std::memcmp(a, "quib", 5), 0);
    // Short passwords are filled with their indices up to 56 bytes.
    EXPECT_EQ(DeriveKey("abc", true, a), 56);
    std::string filled = "abc";
    for (int i = 3; i < 56; ++i) filled.push_back(static_cast<char>(i));
    EXPECT_EQ(DeriveKey(filled.c_str(), true, b), 56);
    EXPECT_EQ(std::memcmp(a, b, 256), 0);
    // Long passwords are used as they are.
    std::string longer(200, 'p');
    EXPECT_EQ(DeriveKey(longer.c_str(), true, a), 200);
    // An empty protected password gives no key at all.
    EXPECT_EQ(DeriveKey("", true, a), 0);

    Bytes payload = RandomBytes(1000, 3);
    ContainerSpec spec;
    spec.password = "abc";
    EXPECT_TRUE(RunPass(MakeContainer(payload, spec), filled).ok);
    spec.password = std::string(72, 'k') + "tail one";
    EXPECT_TRUE(RunPass(MakeContainer(payload, spec), std::string(72, 'k') + "other").ok);
    spec.passwordProtected = false;
    EXPECT_TRUE(RunPass(MakeContainer(payload, spec), "whatever").ok);
}

TEST(DecryptionPassTest, WrongPasswordsAndSums) {
    Bytes payload = RandomBytes(20000, 9);
    PassRun wrong = RunPass(MakeContainer(payload), "not it");
    EXPECT_FALSE(wrong.ok);
    EXPECT_EQ(wrong.status, WrongPassword);
    EXPECT_EQ(wrong.output.size(), payload.size());  // decrypted through to the end
    EXPECT_EQ(wrong.progress, Expected(20000));

    // Tiny payloads are stored in the clear: any password passes when the sum matches.
    EXPECT_TRUE(RunPass(MakeContainer(BytesOf("1234567")), "any").ok);

    // Equal low word, different high word.
    ContainerSpec spec;
    spec.checksum = ByteSum(payload) + (std::uint64_t{1} << 32);
    EXPECT_EQ(RunPass(MakeContainer(payload, spec), "secret").status, WrongPassword);

    // An empty password for a protected container is refused before any key is set.
    PassRun empty = RunPass(MakeContainer(payload), "");
    EXPECT_EQ(empty.status, WrongPassword);
    EXPECT_TRUE(empty.progress.empty());
}

// The payload can only end early when the file shrinks while it is read: the progress
// callback truncates the source right before the first block is read.
std::string shrinkPath;
std::int64_t shrinkTo = 0;
std::int32_t shrinkAt = 0;
void ShrinkSource(std::int32_t done, std::int32_t total) {
    RecordProgress(done, total);
    if (done == shrinkAt && total > 0) {
        std::error_code failed;
        std::filesystem::resize_file(shrinkPath, static_cast<std::uintmax_t>(shrinkTo), failed);
        ASSERT_FALSE(failed) << failed.message();
    }
}

TEST(DecryptionPassTest, PayloadEndingEarlyFailsWithReadFailedAfterWholeBlocks) {
    // The source is cut at a progress call; the pass reads one chunk ahead of what it has
    // announced, so the cut shows from the chunk after the one being read. Cuts in later
    // chunks fall while earlier chunks are still being written.
    struct Cut {
        std::int32_t payload;
        std::int32_t at;  // the progress call that cuts
        std::int64_t kept;
    };
    for (Cut cut :
         {Cut{80000, 0, 70004}, Cut{80000, 0, 70000}, Cut{80000, 0, 8003}, Cut{600000, 0, 300004},
          Cut{600000, 0, 270005}, Cut{4000000, 2080000, 3999999}}) {
        TempDir dir;
        Bytes payload = RandomBytes(cut.payload, 5);
        WriteBytes(dir / "sfx.exe", MakeContainer(payload));
        shrinkPath = dir / "sfx.exe";
        shrinkAt = cut.at;
        shrinkTo = static_cast<std::int64_t>(BytesOf("MZ-stub-bytes").size()) +
                   ContainerHeaderSize + cut.kept;
        ExtractionJob job;
        job.SetDecryptProgress(ShrinkSource);
        recordedProgress.clear();
        const int before = OpenDescriptorCount();
        EXPECT_FALSE(DecryptionPass::Run(job, shrinkPath.c_str(), (dir / "out").c_str(), "secret"));
        EXPECT_EQ(OpenDescriptorCount(), before);
        EXPECT_EQ(job.decryptStatus, ReadFailed);
        const std::size_t whole = static_cast<std::size_t>(cut.kept) / 8 * 8;
        Bytes written = ReadBytes(dir / "out");
        EXPECT_EQ(written, Bytes(payload.begin(), payload.begin() + whole)) << cut.kept;
        // Heads of the loop reached before the failing read, and no closing call.
        Progress expected;
        for (std::size_t done = 0; done <= whole; done += 8) {
            if (done % 5000 == 0)
                expected.emplace_back(done, cut.payload);
        }
        EXPECT_EQ(recordedProgress, expected) << cut.kept;
    }
    shrinkAt = 0;
}

TEST(DecryptionPassTest, UnopenableSourceAndOutput) {
    TempDir dir;
    ExtractionJob job;
    job.decryptStatus = DataDamaged;
    EXPECT_FALSE(DecryptionPass::Run(job, (dir / "missing").c_str(), (dir / "o").c_str(), "pw"));
    EXPECT_EQ(job.decryptStatus, ReadFailed);
    EXPECT_TRUE(dir.Entries().empty());

    WriteBytes(dir / "sfx.exe", MakeContainer(BytesOf("some payload bytes")));
    const int before = OpenDescriptorCount();
    EXPECT_FALSE(DecryptionPass::Run(job, (dir / "sfx.exe").c_str(),
                                     (dir / "no-such-folder/out").c_str(), "secret"));
    EXPECT_EQ(job.decryptStatus, WriteFailed);
    EXPECT_EQ(OpenDescriptorCount(), before);
}

#ifndef _WIN32
// A full disk, simulated by a file-size limit in a child process.
TEST(DecryptionPassTest, FailedWritesAreWriteFailed) {
    // A file-size limit makes a write fail part way; it fails in the first chunk, in a later
    // one while the next is being decrypted, and in the last.
    TempDir dir;
    const std::int32_t size = 600000;
    Bytes payload = RandomBytes(size, 11);
    WriteBytes(dir / "sfx.exe", MakeContainer(payload));
    for (rlim_t limit : {rlim_t{0}, rlim_t{4096}, rlim_t{12345}, rlim_t{299999}, rlim_t{599999}}) {
        std::filesystem::remove(dir / "out");  // the pass writes a new file
        pid_t child = fork();
        if (child == 0) {
            std::signal(SIGXFSZ, SIG_IGN);
            rlimit rl;
            getrlimit(RLIMIT_FSIZE, &rl);
            const rlim_t unlimited = rl.rlim_cur;
            rl.rlim_cur = limit;
            ExtractionJob job;
            job.SetDecryptProgress(RecordProgress);
            recordedProgress.clear();
            setrlimit(RLIMIT_FSIZE, &rl);
            bool ok = DecryptionPass::Run(job, (dir / "sfx.exe").c_str(), (dir / "out").c_str(),
                                          "secret");
            rl.rlim_cur = unlimited;
            setrlimit(RLIMIT_FSIZE, &rl);
            std::FILE* log = std::fopen((dir / "calls").c_str(), "w");
            for (const auto& [done, total] : recordedProgress)
                std::fprintf(log, "%d %d\n", done, total);
            std::fclose(log);
            _exit(ok ? 0 : job.decryptStatus);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), WriteFailed) << limit;
        // What fits is written, and nothing else.
        EXPECT_EQ(ReadBytes(dir / "out"),
                  Bytes(payload.begin(), payload.begin() + static_cast<std::ptrdiff_t>(limit)));
        // The progress calls are those of a whole run, cut off after the failure: every
        // point up to the last byte written, and no closing call.
        Progress logged;
        std::FILE* log = std::fopen((dir / "calls").c_str(), "r");
        ASSERT_NE(log, nullptr);
        int done = 0;
        int total = 0;
        while (std::fscanf(log, "%d %d", &done, &total) == 2) logged.emplace_back(done, total);
        std::fclose(log);
        const auto whole = Expected(size);
        ASSERT_LE(logged.size(), whole.size() - 1) << limit;
        EXPECT_TRUE(std::equal(logged.begin(), logged.end(), whole.begin())) << limit;
        // Every point up to the block that failed, none past it.
        Progress upToFailure;
        for (const auto& call : whole) {
            if (call.second > 0 && call.first <= static_cast<std::int32_t>(limit / 8 * 8))
                upToFailure.push_back(call);
        }
        EXPECT_EQ(logged, upToFailure) << limit;
    }
}
#endif

TEST(ByteSumTest, BothWaysGiveTheExactSum) {
    // Lengths around the 8- and 16-byte pieces and the 128-word folding of the portable
    // way, at every start offset within a word; all bytes 255 push every lane to its limit.
    Bytes random = RandomBytes(5000, 31);
    Bytes full(5000, 0xFF);
    for (const Bytes* bytes : {&random, &full}) {
        for (std::size_t offset = 0; offset < 8; ++offset) {
            for (std::size_t count : {0, 1, 7, 8, 9, 15, 16, 17, 1023, 1024, 1025, 2048, 4000}) {
                std::uint64_t expected = 0;
                for (std::size_t i = 0; i < count; ++i) expected += (*bytes)[offset + i];
                EXPECT_EQ(ByteSumPortable(bytes->data() + offset, count), expected) << count;
                EXPECT_EQ(ByteSum(bytes->data() + offset, count), expected) << count;
            }
        }
    }
}

}  // namespace
}  // namespace sfx
