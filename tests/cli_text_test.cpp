// The command line's text helpers: default names and escaping.
#include <gtest/gtest.h>

#include "cli/destination.h"
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

}  // namespace
}  // namespace sfx::cli
