// sfx-pack and unsfx as installed programs see them: the one version, and texts taken from
// the locale's encoding into the chosen code page (read back with unsfx info --json, which
// shows each stored byte as the Latin-1 character of that byte).
#include <gtest/gtest.h>

#include <filesystem>
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

// The command line as unsfx reads its own: a value attached or apart, each option once, no
// empty password, and no message that repeats a value. "@" stands for the test's folder.
TEST(SfxPackTest, CommandLineConventions) {
    const std::string password = "Sesame";
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
        std::string message;  // a part of standard error
    } rows[] = {
        {{"--stub=@stub", "--input=@input", "--output=@out.exe", "--password=" + password}, 0, ""},
        {{"--stub", "@stub", "--input", "@input", "-o@out.exe", "--no-password", "--codepage=1251"},
         0,
         ""},
        {{"--stub", "@stub", "--input", "@input", "-o", "@out.exe", "--passwordx=" + password},
         64,
         "unknown option --passwordx\n"},
        {{"--stub", "@stub", "--input", "@input", "-o", "@out.exe", "--password-file=" + password},
         64,
         "unknown option --password-file\n"},
        {{"--stub", "@stub", "--input", "@input", "-o", "@out.exe", "--password", "open", password},
         64,
         "argument 9 is no option"},
        {{"--stub", "@stub", "--input", "@input", "-o", "@out.exe", "--no-password", "--compress",
          "--compress"},
         64,
         "--compress given twice"},
        {{"--stub", "@stub", "--input", "@input", "-o", "@out.exe", "--no-password", "-v",
          "--verbose"},
         64,
         "--verbose given twice"},
        {{"--stub", "@stub", "--input", "@input", "-o", "@out.exe", "--no-password",
          "--no-password"},
         64,
         "--no-password given twice"},
        {{"--stub", "@stub", "--stub=@stub", "--input", "@input", "-o@out.exe", "--no-password"},
         64,
         "--stub given twice"},
        {{"--stub", "@stub", "--input", "@input", "-o", "@out.exe", "--password", ""},
         64,
         "the password given with --password is empty"},
        {{"--stub", "@stub", "--input", "@input", "-o", "@out.exe", "--password="},
         64,
         "the password given with --password is empty"},
        {{"--stub", "@stub", "--input", "@input", "-o", "@out.exe", "--password",
          std::string(256, 'x')},
         64,
         "the password is longer than 255 characters"},
        {{"--stub", "@stub", "--input", "@input", "-o", "@out.exe", "--no-password", "--riddle"},
         64,
         "--riddle needs a value"},
    };
    for (const auto& row : rows) {
        TempDir dir;
        WriteBytes(dir / "stub", BytesOf("MZ stub"));
        WriteBytes(dir / "input", BytesOf("hello"));
        std::vector<std::string> argv = {BinPath("sfx-pack")};
        std::string shown;
        for (std::string argument : row.arguments) {
            if (const std::size_t at = argument.find('@'); at != std::string::npos)
                argument.replace(at, 1, dir.path().string() + "/");
            argv.push_back(argument);
            shown += argument + " ";
        }
        const auto result = test::Run(argv);
        EXPECT_EQ(result.exitCode, row.exitCode) << shown << "\n" << result.err;
        EXPECT_NE(result.err.find(row.message), std::string::npos) << shown << "\n" << result.err;
        EXPECT_EQ(result.err.find(password), std::string::npos) << shown << "\n" << result.err;
        EXPECT_EQ(std::filesystem::exists(dir / "out.exe"), row.exitCode == 0) << shown;
    }
}

}  // namespace
}  // namespace sfx
