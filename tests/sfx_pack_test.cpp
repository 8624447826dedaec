// sfx-pack and unsfx as installed programs see them: the one version, and texts taken from
// the locale's encoding into the chosen code page (read back with unsfx info --json in the
// same code page, which gives the characters and the stored bytes).
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/status.h"
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
        std::string expected;  // 0: a part of the JSON read back; else a part of the message
        std::string bytes;     // 0: a part of the JSON read back too ("" for none)
    } rows[] = {
        {"C.UTF-8", {"--riddle", "Caf\xc3\xa9"}, 0, "\"riddle\": \"Caf\\u00e9\"", "436166e9"},
        {"C.UTF-8",
         {"--description", "Cr\xc3\xa8me \xe2\x82\xac"},
         0,
         "\"description\": \"Cr\\u00e8me \\u20ac\"",
         "\"descriptionBytes\": \"4372e86d652080\""},
        {"C.UTF-8",
         {"--codepage", "1251", "--riddle", "\xd0\x96\xd1\x83\xd0\xba"},
         0,
         "\"riddle\": \"\\u0416\\u0443\\u043a\"",
         "\"riddleBytes\": \"c6f3ea\""},
        {"C", {"--riddle", "plain"}, 0, "\"riddle\": \"plain\"", "\"codePage\": 1252"},
        {"C.UTF-8",
         {"--riddle", "\xd0\x96\xd1\x83\xd0\xba"},
         64,
         "--riddle: code page 1252 has no character U+0416",
         ""},
        {"C.UTF-8",
         {"--codepage", "1251", "--description", "Caf\xc3\xa9"},
         64,
         "--description: code page 1251 has no character U+00E9",
         ""},
        {"C.UTF-8", {"--codepage", "utf-8", "--riddle", "x"}, 64, "no code page 'utf-8'", ""},
        {"C",
         {"--riddle", "Caf\xc3\xa9"},
         64,
         "--riddle: the text is not valid in the locale's",
         ""},
        // Every code page there is, each with its own script.
        {"C.UTF-8", {"--codepage", "874", "--riddle", "ก"}, 0, "\\u0e01\"", "\"a1\""},
        {"C.UTF-8",
         {"--codepage", "1250", "--riddle", "Łódź"},
         0,
         "\\u0141\\u00f3d\\u017a\"",
         "\"a3f3649f\""},
        {"C.UTF-8",
         {"--codepage", "1252", "--riddle", "Œuvre"},
         0,
         "\\u0152uvre\"",
         "\"8c75767265\""},
        {"C.UTF-8",
         {"--codepage", "1253", "--riddle", "Ωμέγα"},
         0,
         "\\u03a9\\u03bc\\u03ad",
         "\"d9ecdde3e1\""},
        {"C.UTF-8", {"--codepage", "1254", "--riddle", "ğ"}, 0, "\\u011f\"", "\"f0\""},
        {"C.UTF-8",
         {"--codepage", "1255", "--riddle", "שלום"},
         0,
         "\\u05e9\\u05dc",
         "\"f9ece5ed\""},
        {"C.UTF-8",
         {"--codepage", "1256", "--riddle", "سلام"},
         0,
         "\\u0633\\u0644",
         "\"d3e1c7e3\""},
        {"C.UTF-8",
         {"--codepage", "1257", "--riddle", "Šalna"},
         0,
         "\\u0160alna\"",
         "\"d0616c6e61\""},
        {"C.UTF-8",
         {"--codepage", "1258", "--riddle", "Đông"},
         0,
         "\\u0110\\u00f4ng\"",
         "\"d0f46e67\""},
        {"C.UTF-8",
         {"--codepage", "1258", "--riddle", "Đồng"},
         64,
         "code page 1258 has no character U+1ED3",
         ""},
        {"C.UTF-8",
         {"--codepage", "932", "--riddle", "日本ｱ"},
         0,
         "\\u65e5\\u672c\\uff71\"",
         "\"93fa967bb1\""},
        {"C.UTF-8",
         {"--codepage", "936", "--description", "中文"},
         0,
         "\\u4e2d\\u6587\"",
         "\"d6d0cec4\""},
        {"C.UTF-8",
         {"--codepage", "949", "--riddle", "한글"},
         0,
         "\\ud55c\\uae00\"",
         "\"c7d1b1db\""},
        {"C.UTF-8",
         {"--codepage", "950", "--riddle", "中文"},
         0,
         "\\u4e2d\\u6587\"",
         "\"a4a4a4e5\""},
        {"C.UTF-8",
         {"--codepage", "932", "--riddle", "Café"},
         64,
         "code page 932 has no character U+00E9",
         ""},
        {"C.UTF-8",
         {"--codepage", "cp949", "--password", "Café"},
         64,
         "--password: code page 949 has no character U+00E9",
         ""},
        {"C",
         {"--codepage", "1251", "--password", "\xd0\x96"},
         64,
         "--password: the text is not valid in the locale's",
         ""},
    };
    for (const auto& row : rows) {
        TempDir dir;
        std::vector<std::string> options = row.options;
        if (std::find(options.begin(), options.end(), "--password") == options.end())
            options.insert(options.begin(), "--no-password");
        SetEnv("LC_ALL", row.locale);
        const auto packed = SfxPack(dir, BytesOf("hello"), options);
        UnsetEnv("LC_ALL");
        ASSERT_EQ(packed.exitCode, row.exitCode) << row.expected << ": " << packed.err;
        if (row.exitCode != 0) {
            EXPECT_NE(packed.err.find(row.expected), std::string::npos) << packed.err;
            continue;
        }
        // Read back in the code page packed with: its number follows --codepage, if given.
        std::string page = "1252";
        const auto named = std::find(options.begin(), options.end(), "--codepage");
        if (named != options.end())
            page = *(named + 1);
        const auto info = Unsfx({"info", "--json", "--codepage", page, dir / "packed.exe"});
        EXPECT_EQ(info.exitCode, 0) << info.err;
        EXPECT_NE(info.out.find(row.expected), std::string::npos) << info.out;
        EXPECT_NE(info.out.find(row.bytes), std::string::npos) << info.out;
    }
}

// A password is its text in the code page, as on Windows: typed on Linux (UTF-8 here), it
// opens a file made on Windows (a container keyed with the code page's bytes), and a file
// sfx-pack makes opens with the code page's bytes as Windows gives them. A file keyed with
// UTF-8 bytes (an older sfx-pack) still opens on the second try.
TEST(SfxPackTest, PasswordsAreTextInTheCodePage) {
    const struct {
        const char* what;
        std::string keyedWith;  // the container's password bytes; "" for sfx-pack's
        const char* packLocale;
        std::vector<std::string> pack;  // sfx-pack's code page and password
        const char* locale;             // unsfx's
        std::vector<std::string> unsfx;
        int exitCode;
    } rows[] = {
        {"made on Windows, typed on Linux",
         "caf\xe9",
         "",
         {},
         "C.UTF-8",
         {"-p", "caf\xc3\xa9", "--codepage", "1252"},
         0},
        {"made on Windows in 1251",
         "\xca\xee\xf2",
         "",
         {},
         "C.UTF-8",
         {"-p", "\xd0\x9a\xd0\xbe\xd1\x82", "--codepage=1251"},
         0},
        {"made on Windows in 932",
         "\x93\xfa\x96\x7b",
         "",
         {},
         "C.UTF-8",
         {"-p", "\xe6\x97\xa5\xe6\x9c\xac", "--codepage", "932"},
         0},
        {"made on Windows, the wrong code page",
         "caf\xe9",
         "",
         {},
         "C.UTF-8",
         {"-p", "caf\xc3\xa9", "--codepage", "1251"},
         WrongPassword},
        {"made on Linux, given as Windows' bytes",
         "",
         "C.UTF-8",
         {"--password", "caf\xc3\xa9"},
         "C",
         {"-p", "caf\xe9"},
         0},
        {"made on Linux, typed on Linux",
         "",
         "C.UTF-8",
         {"--password", "caf\xc3\xa9"},
         "C.UTF-8",
         {"-p", "caf\xc3\xa9"},
         0},
        {"made on Linux in 949",
         "",
         "C.UTF-8",
         {"--codepage", "949", "--password", "\xed\x95\x9c"},
         "C",
         {"-p", "\xc7\xd1"},
         0},
        {"made on Linux, the UTF-8 bytes refused",
         "",
         "C.UTF-8",
         {"--password", "caf\xc3\xa9"},
         "C",
         {"-p", "caf\xc3\xa9"},
         WrongPassword},
        {"keyed with UTF-8 bytes", "caf\xc3\xa9", "", {}, "C.UTF-8", {"-p", "caf\xc3\xa9"}, 0},
        {"keyed with UTF-8 bytes, to standard output",
         "caf\xc3\xa9",
         "",
         {},
         "C.UTF-8",
         {"-p", "caf\xc3\xa9", "-o", "-"},
         0},
        {"made on Windows, to standard output",
         "caf\xe9",
         "",
         {},
         "C.UTF-8",
         {"-p", "caf\xc3\xa9", "-o", "-"},
         0},
        {"wrong either way", "caf\xe9", "", {}, "C.UTF-8", {"-p", "cafe\xcc\x81"}, WrongPassword},
    };
    const Bytes content = BytesOf("the file");
    for (const auto& row : rows) {
        TempDir dir;
        const std::filesystem::path packed = dir / "packed.exe";
        if (!row.keyedWith.empty()) {
            ContainerSpec spec;
            spec.password = row.keyedWith;
            WriteBytes(packed, MakeContainer(content, spec));
        } else {
            SetEnv("LC_ALL", row.packLocale);
            const auto made = SfxPack(dir, content, row.pack);
            UnsetEnv("LC_ALL");
            ASSERT_EQ(made.exitCode, 0) << row.what << ": " << made.err;
        }
        std::vector<std::string> arguments = {"extract", packed, "-o", dir / "out"};
        arguments.insert(arguments.end(), row.unsfx.begin(), row.unsfx.end());
        const bool toOutput = arguments.back() == "-";
        if (toOutput)
            arguments.erase(arguments.begin() + 2, arguments.begin() + 4);
        SetEnv("LC_ALL", row.locale);
        const auto opened = Unsfx(arguments);
        UnsetEnv("LC_ALL");
        EXPECT_EQ(opened.exitCode, row.exitCode) << row.what << ": " << opened.err;
        if (row.exitCode == 0 && !toOutput) {
            EXPECT_EQ(ReadBytes(dir / "out"), content) << row.what;
        } else if (row.exitCode == 0) {
            EXPECT_EQ(opened.out, "the file") << row.what;
        }
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
