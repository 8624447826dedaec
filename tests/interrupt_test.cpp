// An interrupted extraction leaves no temporary file behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "platform/files.h"
#include "platform/own_file.h"
#include "platform/temporaries.h"
#include "tests/support/test_support.h"
#include "tools/container_writer.h"

namespace sfx {
namespace {

using namespace test;

TEST(TemporaryTrackingTest, OnlyTrackedFilesGo) {
    TempDir dir;
    char made[512];
    std::FILE* sibling = platform::CreateUniqueSibling((dir / "dest").c_str(), made, sizeof made);
    ASSERT_NE(sibling, nullptr);
    std::fclose(sibling);
    WriteBytes(dir / "kept.lzw", Bytes{1});
    platform::TrackTemporary((dir / "kept.lzw").c_str());
    platform::UntrackTemporary((dir / "kept.lzw").c_str());
    platform::RemoveTrackedTemporaries();
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"kept.lzw"});

    // A file moved into place is no longer temporary.
    sibling = platform::CreateUniqueSibling((dir / "dest").c_str(), made, sizeof made);
    ASSERT_NE(sibling, nullptr);
    std::fclose(sibling);
    ASSERT_TRUE(platform::ReplaceFile(made, (dir / "dest").c_str()));
    platform::RemoveTrackedTemporaries();
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"dest", "kept.lzw"}));
}

// Starts unsfx, waits until its temporary file shows, interrupts it and checks the folder.
void InterruptWhileWriting(bool compress, int signal) {
    TempDir dir;
    const Bytes content = compress ? TextBytes(60u << 20, 1) : RandomBytes(96u << 20, 2);
    PackOptions options;
    options.password = "pw";
    options.compressed = compress;
    const Bytes stub = BytesOf("MZ");
    std::string error;
    ASSERT_TRUE(WriteSelfExtractor(stub.data(), stub.size(), content.data(), content.size(),
                                   dir / "packed.exe", options, error))
        << error;
    const std::string unsfx = BinPath("unsfx");
    const std::string out = dir / "out.bin";
    pid_t child = fork();
    if (child == 0) {
        execl(unsfx.c_str(), unsfx.c_str(), "extract", (dir / "packed.exe").c_str(), "-o",
              out.c_str(), "-p", "pw", "-q", static_cast<char*>(nullptr));
        _exit(127);
    }
    const std::string marker = compress ? "~sfx" : "~sfx";
    bool seen = false;
    for (int i = 0; i < 2000 && !seen; ++i) {
        for (const auto& name : dir.Entries()) {
            if (name.rfind(marker, 0) == 0)
                seen = true;
        }
        if (!seen)
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    kill(child, signal);
    int status = 0;
    waitpid(child, &status, 0);
    if (!seen || WIFEXITED(status)) {
        GTEST_SKIP() << "the extraction ended before it could be interrupted";
    }
    EXPECT_TRUE(WIFSIGNALED(status));
    EXPECT_EQ(WTERMSIG(status), signal);
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"packed.exe"});
}

TEST(InterruptTest, UncompressedLeavesNothing) {
    InterruptWhileWriting(false, SIGINT);
}
TEST(InterruptTest, CompressedLeavesNothing) {
    InterruptWhileWriting(true, SIGTERM);
}

}  // namespace
}  // namespace sfx
