// End-to-end: packs files with sfx-pack and extracts them with unsfx in real processes.
#include <gtest/gtest.h>

#include <filesystem>

#include "engine/status.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

using test::Bytes;
using test::BytesOf;

using test::TempDir;

std::string Pack(TempDir& dir, const Bytes& content, const std::vector<std::string>& options) {
    test::WriteBytes(dir / "stub", BytesOf("MZ stub"));
    test::WriteBytes(dir / "input", content);
    std::vector<std::string> argv = {
        test::BinPath("sfx-pack"), "--stub", dir / "stub", "--input", dir / "input", "-o",
        dir / "packed.exe"};
    argv.insert(argv.end(), options.begin(), options.end());
    auto result = test::Run(argv);
    EXPECT_EQ(result.exitCode, 0) << result.err;
    return dir / "packed.exe";
}

TEST(UnsfxExtractTest, ExtractsPackedFiles) {
    const Bytes content = test::TextBytes(100000, 1);
    for (bool compress : {false, true}) {
        TempDir dir;
        std::vector<std::string> options = {"--password", "pa ss"};
        if (compress)
            options.push_back("--compress");
        const std::string packed = Pack(dir, content, options);
        auto result = test::Run(
            {test::BinPath("unsfx"), "extract", packed, "-o", dir / "out", "-p", "pa ss"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(test::ReadBytes(dir / "out"), content);
        EXPECT_EQ(result.err, "");
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"input", "out", "packed.exe", "stub"}));
    }
}

TEST(UnsfxExtractTest, TinyFilesRoundTrip) {
    // Payloads shorter than a block are stored in the clear; compressed ones are not.
    for (std::size_t size : {0u, 1u, 4u, 7u, 8u, 9u, 15u, 17u}) {
        for (bool compress : {false, true}) {
            TempDir dir;
            const Bytes content = test::RandomBytes(size, static_cast<std::uint32_t>(size));
            std::vector<std::string> options = {"--password", "pw"};
            if (compress)
                options.push_back("--compress");
            const std::string packed = Pack(dir, content, options);
            auto result = test::Run(
                {test::BinPath("unsfx"), "extract", packed, "-o", dir / "out", "-p", "pw"});
            EXPECT_EQ(result.exitCode, 0) << size << " " << compress << result.err;
            EXPECT_EQ(test::ReadBytes(dir / "out"), content) << size << " " << compress;
        }
    }
}

TEST(UnsfxExtractTest, PasswordSources) {
    TempDir dir;
    const Bytes content = test::RandomBytes(5000, 2);
    const std::string packed = Pack(dir, content, {"--password", "from file"});
    test::WriteBytes(dir / "pw", BytesOf("from file\r\nsecond line\n"));
    auto fromFile = test::Run({test::BinPath("unsfx"), "extract", packed, "-o", dir / "a",
                               "--password-file", dir / "pw"});
    EXPECT_EQ(fromFile.exitCode, 0) << fromFile.err;
    auto fromStdin = test::Run(
        {test::BinPath("unsfx"), "extract", packed, "-o", dir / "b", "--password-file", "-"},
        "from file\n");
    EXPECT_EQ(fromStdin.exitCode, 0) << fromStdin.err;
    EXPECT_EQ(test::ReadBytes(dir / "b"), content);

    const std::string unprotected = Pack(dir, content, {"--no-password"});
    auto anyPassword =
        test::Run({test::BinPath("unsfx"), "extract", unprotected, "-o", dir / "c", "-p", "x"});
    EXPECT_EQ(anyPassword.exitCode, 0) << anyPassword.err;
}

TEST(UnsfxExtractTest, FailuresAndTheirExitCodes) {
    TempDir dir;
    const std::string packed = Pack(dir, test::RandomBytes(9000, 3), {"--password", "right"});
    test::WriteBytes(dir / "existing", BytesOf("keep me"));

    auto wrong =
        test::Run({test::BinPath("unsfx"), "extract", packed, "-o", dir / "new", "-p", "bad"});
    EXPECT_EQ(wrong.exitCode, WrongPassword);
    EXPECT_NE(wrong.err.find(StatusMessage(WrongPassword)), std::string::npos) << wrong.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "new"));

    auto exists = test::Run(
        {test::BinPath("unsfx"), "extract", packed, "-o", dir / "existing", "-p", "right"});
    EXPECT_EQ(exists.exitCode, 73);
    EXPECT_NE(exists.err.find("--force"), std::string::npos);
    EXPECT_EQ(test::ReadBytes(dir / "existing"), BytesOf("keep me"));

    auto wrongForced = test::Run({test::BinPath("unsfx"), "extract", packed, "-o", dir / "existing",
                                  "-p", "bad", "--force"});
    EXPECT_EQ(wrongForced.exitCode, WrongPassword);
    EXPECT_EQ(test::ReadBytes(dir / "existing"), BytesOf("keep me"));

    auto forced = test::Run({test::BinPath("unsfx"), "extract", packed, "-o", dir / "existing",
                             "-p", "right", "--force"});
    EXPECT_EQ(forced.exitCode, 0) << forced.err;

    auto missing =
        test::Run({test::BinPath("unsfx"), "extract", dir / "none", "-o", dir / "x", "-p", "p"});
    EXPECT_EQ(missing.exitCode, ReadFailed);
    EXPECT_NE(missing.err.find("Can't read data. May be file is damaged?"), std::string::npos);

    test::WriteBytes(dir / "junk", BytesOf("this is no container at all"));
    auto damaged =
        test::Run({test::BinPath("unsfx"), "extract", dir / "junk", "-o", dir / "x", "-p", "p"});
    EXPECT_EQ(damaged.exitCode, DataDamaged);

    auto noFolder =
        test::Run({test::BinPath("unsfx"), "extract", packed, "-o", dir / "nope/x", "-p", "right"});
    EXPECT_EQ(noFolder.exitCode, WriteFailed);
}

TEST(UnsfxExtractTest, UsageErrors) {
    TempDir dir;
    const std::string packed = Pack(dir, test::RandomBytes(100, 4), {"--password", "pw"});
    const std::string unsfx = test::BinPath("unsfx");
    const std::vector<std::vector<std::string>> cases = {
        {unsfx},
        {unsfx, "extract"},
        {unsfx, "extract", packed, "-p", "pw"},
        {unsfx, "extract", packed, "-o", dir / "o"},
        {unsfx, "extract", packed, "-o", dir / "o", "-p", std::string(256, 'x')},
        {unsfx, "extract", packed, "-o", dir / "o", "-p", "pw", "--bogus"},
        {unsfx, "frobnicate"},
    };
    for (const auto& argv : cases) {
        auto result = test::Run(argv);
        EXPECT_EQ(result.exitCode, 64) << argv.size();
        EXPECT_NE(result.err.find("usage:"), std::string::npos) << result.err;
    }
    EXPECT_FALSE(std::filesystem::exists(dir / "o"));
    // 255 characters are fine (and wrong here).
    auto longest =
        test::Run({unsfx, "extract", packed, "-o", dir / "o", "-p", std::string(255, 'x')});
    EXPECT_EQ(longest.exitCode, WrongPassword);
}

}  // namespace
}  // namespace sfx
