// The command line's text helpers: default names and escaping; and the limits it reads from
// the environment.
#include <gtest/gtest.h>

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

}  // namespace
}  // namespace sfx::cli
