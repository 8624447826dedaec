// The command line's text helpers: default names and escaping; and the limits it reads from
// the environment.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "cipher/blowfish_wide.h"
#include "cli/destination.h"
#include "cli/extract_command.h"
#include "cli/text.h"

namespace sfx::cli {
namespace {

TEST(DefaultDestinationTest, DropsOnlyTheLastExtensionOfTheName) {
    EXPECT_EQ(DefaultDestination("dir/Report.final.exe"), "dir/Report.final");
    EXPECT_EQ(DefaultDestination("letter.exe"), "letter");
    EXPECT_EQ(DefaultDestination("/abs/x."), "/abs/x");
    // Nothing left to drop: the name gets ".out".
    EXPECT_EQ(DefaultDestination("dir/README"), "dir/README.out");
    EXPECT_EQ(DefaultDestination("some.dir/README"), "some.dir/README.out");
    EXPECT_EQ(DefaultDestination("dir/.hidden"), "dir/.hidden.out");
}

TEST(DefaultDestinationTest, InAFolder) {
    EXPECT_EQ(DestinationInFolder("out", "dir/a.exe"), "out/a");
    EXPECT_EQ(DestinationInFolder("out/", "dir/a.exe"), "out/a");
    EXPECT_EQ(DestinationInFolder("/", "b"), "/b.out");
}

TEST(EscapingTest, PrintableAndJsonKeepEveryByteReadable) {
    const std::string hostile("a\\b\x1b[0m\x7f\x80\xff\t\"", 12);
    EXPECT_EQ(Printable(hostile), "a\\\\b\\x1b[0m\\x7f\\x80\\xff\\x09\"");
    EXPECT_EQ(JsonString(hostile), "\"a\\\\b\\u001b[0m\\u007f\\u0080\\u00ff\\t\\\"\"");
    EXPECT_EQ(JsonString(std::string("\0x", 2)), "\"\\u0000x\"");
}

// UNSFX_CIPHER=scalar leaves the vector path idle; any other value leaves the widest path
// this processor has.
TEST(EnvironmentLimitsTest, ScalarCipherTakesNoBlockOnTheVectorPath) {
    static const std::uint32_t p[18] = {};
    static const std::uint32_t s[4][256] = {};
    for (const char* value : {"scalar", "Scalar", "avx512", ""}) {
        const BlockPath widest = LimitBlockPath(BlockPath::Avx512);
        setenv("UNSFX_CIPHER", value, 1);
        LimitCipherFromEnvironment();
        unsetenv("UNSFX_CIPHER");
        std::vector<std::uint8_t> blocks(8 * 64);
        const bool portable = std::string(value) == "scalar" || widest == BlockPath::Scalar;
        EXPECT_EQ(DecryptWideBlocksLE({p, {s[0], s[1], s[2], s[3]}}, blocks.data(), 64),
                  portable ? 0u : 64u)
            << "UNSFX_CIPHER=" << value;
    }
    LimitBlockPath(BlockPath::Avx512);
}

// Texts of a code page on a terminal: characters in the terminal's set, every control
// character (after decoding), every invalid or cut byte and every character the terminal
// lacks as the \xNN of its bytes; in JSON as \uXXXX, an invalid byte as U+FFFD.
TEST(EscapingTest, CodePageTextsShowTheirCharactersAndEscapeTheRest) {
    const struct {
        const char* locale;  // of the terminal
        unsigned page;
        std::string bytes;
        std::string shown;
        std::string json;
    } rows[] = {
        {"C.UTF-8", 1252, "Caf\xe9 \x80", "Caf\xc3\xa9 \xe2\x82\xac", "\"Caf\\u00e9 \\u20ac\""},
        {"C", 1252, "Caf\xe9 \x80", "Caf\\xe9 \\x80", "\"Caf\\u00e9 \\u20ac\""},
        {"C.UTF-8", 1251, "\xca\xeb", "\xd0\x9a\xd0\xbb", "\"\\u041a\\u043b\""},
        {"C.UTF-8", 1252, "\x1b[2J\x7f\t", "\\x1b[2J\\x7f\\x09", "\"\\u001b[2J\\u007f\\t\""},
        {"C.UTF-8", 1252, "a\x81\x9b", "a\\x81\xe2\x80\xba", "\"a\\ufffd\\u203a\""},
        {"C.UTF-8", 1252, "\\x", "\\\\x", "\"\\\\x\""},
        {"C.UTF-8", 932, "\x93\xfa\x93", "\xe6\x97\xa5\\x93", "\"\\u65e5\\ufffd\""},
        {"C.UTF-8", 932, "\x93\n", "\\x93\\x0a", "\"\\ufffd\\n\""},
        {"C", 932, "\x93\xfa", "\\x93\\xfa", "\"\\u65e5\""},
        {"C.UTF-8", 950, "\xa4\xa4\xff", "\xe4\xb8\xad\\xff", "\"\\u4e2d\\ufffd\""},
        {"C.UTF-8", 949, "\xc7", "\\xc7", "\"\\ufffd\""},
        {"C.UTF-8", 1255, "\xfd\xfe", "\\xfd\\xfe", "\"\\u200e\\u200f\""},  // direction marks
        {"C.UTF-8", 874, "\xdb", "\\xdb", "\"\\ufffd\""},
    };
    const std::string before = std::setlocale(LC_CTYPE, nullptr);
    for (const auto& row : rows) {
        if (std::setlocale(LC_CTYPE, row.locale) == nullptr)
            GTEST_SKIP() << "no " << row.locale << " locale here";
        EXPECT_EQ(PrintableText(row.bytes.data(), row.bytes.size(), row.page), row.shown)
            << row.locale << " " << row.page << " " << row.shown;
        EXPECT_EQ(JsonText(row.bytes.data(), row.bytes.size(), row.page), row.json)
            << row.page << " " << row.json;
    }
    std::setlocale(LC_CTYPE, before.c_str());
}

}  // namespace
}  // namespace sfx::cli
