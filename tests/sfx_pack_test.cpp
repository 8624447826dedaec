// sfx-pack and unsfx as installed programs see them: the one version, and texts taken from
// the locale's encoding into the chosen code page (read back with unsfx info --json, which
// shows each stored byte as the Latin-1 character of that byte).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "sfx_version.h"
#include "tests/support/test_support.h"

namespace sfx {
namespace {

using namespace test;

TEST(SfxPackTest, ProgramsShowTheProjectVersion) {
    for (const char* program : {"sfx-pack", "unsfx"}) {
        for (const char* option : {"--version", "-V"}) {
            auto result = test::Run({BinPath(program), option});
            EXPECT_EQ(result.exitCode, 0) << program << " " << option;
            EXPECT_EQ(result.out, std::string(program) + " " SFX_VERSION "\n") << option;
        }
    }
}

TEST(SfxPackTest, TextsAreStoredInTheCodePage) {
    const struct {
        const char* locale;
        std::vector<std::string> options;
        int exitCode;
        std::string expected;  // 0: the JSON fields read back; else a part of the message
    } rows[] = {
        {"C.UTF-8", {"--riddle", "Caf\xc3\xa9"}, 0, "\"riddle\": \"Caf\\u00e9\""},
        {"C.UTF-8",
         {"--description", "Cr\xc3\xa8me \xe2\x82\xac"},
         0,
         "\"description\": \"Cr\\u00e8me \\u0080\""},
        {"C.UTF-8",
         {"--codepage", "1251", "--riddle", "\xd0\x96\xd1\x83\xd0\xba"},
         0,
         "\"riddle\": \"\\u00c6\\u00f3\\u00ea\""},
        {"C", {"--riddle", "plain"}, 0, "\"riddle\": \"plain\""},
        {"C.UTF-8",
         {"--riddle", "\xd0\x96\xd1\x83\xd0\xba"},
         64,
         "--riddle: code page 1252 has no character U+0416"},
        {"C.UTF-8",
         {"--codepage", "1251", "--description", "Caf\xc3\xa9"},
         64,
         "--description: code page 1251 has no character U+00E9"},
        {"C.UTF-8", {"--codepage", "utf-8", "--riddle", "x"}, 64, "no code page 'utf-8'"},
        {"C", {"--riddle", "Caf\xc3\xa9"}, 64, "--riddle: the text is not valid in the locale's"},
    };
    for (const auto& row : rows) {
        TempDir dir;
        std::vector<std::string> options = {"--no-password"};
        options.insert(options.end(), row.options.begin(), row.options.end());
        SetEnv("LC_ALL", row.locale);
        const auto packed = SfxPack(dir, BytesOf("hello"), options);
        UnsetEnv("LC_ALL");
        ASSERT_EQ(packed.exitCode, row.exitCode) << row.expected << ": " << packed.err;
        if (row.exitCode != 0) {
            EXPECT_NE(packed.err.find(row.expected), std::string::npos) << packed.err;
            continue;
        }
        const auto info = Unsfx({"info", "--json", dir / "packed.exe"});
        EXPECT_EQ(info.exitCode, 0) << info.err;
        EXPECT_NE(info.out.find(row.expected), std::string::npos) << info.out;
    }
}

// A recipient checks the stub of a file against a released extractor: `unsfx info` shows
// the size and SHA-256 of exactly the stub sfx-pack was given (one over several read chunks).
TEST(SfxPackTest, InfoShowsTheDigestOfTheStubItWasGiven) {
    const struct {
        std::string stub;
        const char* sha256;
    } rows[] = {
        {"MZ stub", "cb0f58c1a1d9cce165bfe6b97b6e87fad3b1ca0f569e300df70eefc8f596d2ec"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& row : rows) {
        TempDir dir;
        WriteBytes(dir / "stub", BytesOf(row.stub));
        WriteBytes(dir / "input", BytesOf("hello"));
        const auto packed = test::Run({BinPath("sfx-pack"), "--stub", dir / "stub", "--input",
                                       dir / "input", "-o", dir / "packed.exe", "--no-password"});
        ASSERT_EQ(packed.exitCode, 0) << packed.err;
        const auto json = Unsfx({"info", "--json", dir / "packed.exe"});
        EXPECT_EQ(json.exitCode, 0) << json.err;
        EXPECT_NE(json.out.find("\"stubSize\": " + std::to_string(row.stub.size()) +
                                ", \"stubSha256\": \"" + row.sha256 + "\"}"),
                  std::string::npos)
            << json.out;
        const auto text = Unsfx({"info", dir / "packed.exe"});
        EXPECT_EQ(text.exitCode, 0) << text.err;
        EXPECT_NE(text.out.find("  stub size:         " + std::to_string(row.stub.size()) +
                                " bytes\n  stub SHA-256:      " + row.sha256 + "\n"),
                  std::string::npos)
            << text.out;
    }
}

}  // namespace
}  // namespace sfx
