// unsfx at a terminal: the password prompt and the progress bar, through a pseudo-terminal.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>

#include "engine/status.h"
#include "tests/pty_support.h"
#include "tests/support/test_support.h"

namespace sfx {
namespace {

using namespace test;

class UnsfxTerminalTest : public ::testing::Test {
  protected:
    void SetUp() override {
        if (!PseudoTerminalsAvailable())
            GTEST_SKIP() << "no pseudo-terminal can be opened here";
        unsetenv("UNSFX_PASSWORD");
        content_ = TextBytes(20000, 21);
        ContainerSpec spec;
        spec.password = "pa ss word";
        spec.riddle = "Open \x1b[5m what?";
        WriteBytes(dir_ / "locked.exe", MakeContainer(content_, spec));
    }
    std::string Unsfx() const { return BinPath("unsfx"); }

    TempDir dir_;
    Bytes content_;
};

TEST_F(UnsfxTerminalTest, PromptsWithEchoOffAndRestoresIt) {
    auto run = RunOnTerminal({Unsfx(), dir_ / "locked.exe", "-o", dir_ / "out"},
                             {{"Password for", "pa ss word\n"}});
    ASSERT_FALSE(run.timedOut) << run.screen;
    EXPECT_EQ(run.exitCode, 0) << run.screen;
    EXPECT_EQ(ReadBytes(dir_ / "out"), content_);
    // The riddle is shown, escaped; what was typed is not.
    EXPECT_NE(run.screen.find("Riddle: Open \\x1b[5m what?"), std::string::npos) << run.screen;
    EXPECT_EQ(run.screen.find("pa ss"), std::string::npos) << run.screen;
    EXPECT_TRUE(run.echoAfter);

    auto wrong =
        RunOnTerminal({Unsfx(), "test", dir_ / "locked.exe"}, {{"Password for", "guess\n"}});
    EXPECT_EQ(wrong.exitCode, WrongPassword) << wrong.screen;
    EXPECT_EQ(wrong.screen.find("guess"), std::string::npos) << wrong.screen;
    EXPECT_TRUE(wrong.echoAfter);

    // A password file read from the terminal is not shown either.
    auto fromInput =
        RunOnTerminal({Unsfx(), dir_ / "locked.exe", "-o", dir_ / "out2", "--password-file", "-"},
                      {{"Password: ", "pa ss word\n"}});
    ASSERT_FALSE(fromInput.timedOut) << fromInput.screen;
    EXPECT_EQ(fromInput.exitCode, 0) << fromInput.screen;
    EXPECT_EQ(ReadBytes(dir_ / "out2"), content_);
    EXPECT_EQ(fromInput.screen.find("pa ss"), std::string::npos) << fromInput.screen;
    EXPECT_TRUE(fromInput.echoAfter);

    // An empty line is no password, not a wrong one, whichever way it is asked for.
    for (const std::string source : {"prompt", "-"}) {
        std::vector<std::string> argv = {Unsfx(), "test", dir_ / "locked.exe"};
        if (source == "-")
            argv.insert(argv.end(), {"--password-file", "-"});
        auto empty = RunOnTerminal(argv, {{"Password", "\n"}});
        EXPECT_EQ(empty.exitCode, 64) << source << empty.screen;
        EXPECT_NE(empty.screen.find("try 'unsfx --help'"), std::string::npos)
            << source << empty.screen;
        EXPECT_TRUE(empty.echoAfter) << source;
    }
}

// The riddle above the prompt in the terminal's character set, and the password typed there
// taken into the code page: a file made on Windows opens with what is typed on Linux.
TEST_F(UnsfxTerminalTest, RiddleAndTypedPasswordInTheCodePage) {
    const struct {
        const char* locale;  // of the terminal
        std::string riddle;  // stored, in code page 1251
        std::string shown;
        int exitCode;
    } rows[] = {
        {"C.UTF-8", "\xc6\xf3\xea?", "Riddle: \xd0\x96\xd1\x83\xd0\xba?\r\n", 0},
        {"C.UTF-8", "\xc6\x1b[2J", "Riddle: \xd0\x96\\x1b[2J\r\n", 0},
        {"C", "\xc6\xf3\xea?", "Riddle: \\xc6\\xf3\\xea?\r\n", WrongPassword},
    };
    for (const auto& row : rows) {
        ContainerSpec spec;
        spec.password = "\xca\xee\xf2";  // "Кот" as Windows keys it in code page 1251
        spec.riddle = row.riddle;
        WriteBytes(dir_ / "russian.exe", MakeContainer(content_, spec));
        SetEnv("LC_ALL", row.locale);
        auto run = RunOnTerminal({Unsfx(), "test", dir_ / "russian.exe", "--codepage", "1251"},
                                 {{"Password for", "\xd0\x9a\xd0\xbe\xd1\x82\n"}});
        UnsetEnv("LC_ALL");
        ASSERT_FALSE(run.timedOut) << run.screen;
        EXPECT_EQ(run.exitCode, row.exitCode) << row.locale << run.screen;
        EXPECT_NE(run.screen.find(row.shown), std::string::npos) << row.locale << run.screen;
    }
}

TEST_F(UnsfxTerminalTest, InterruptAtThePromptRestoresEcho) {
    auto run = RunOnTerminal({Unsfx(), dir_ / "locked.exe", "-o", dir_ / "out"},
                             {{"Password for", "pa\x03"}});
    ASSERT_FALSE(run.timedOut) << run.screen;
    EXPECT_EQ(run.exitCode, 128 + SIGINT) << run.screen;
    EXPECT_TRUE(run.echoAfter);
    EXPECT_FALSE(std::filesystem::exists(dir_ / "out"));
}

TEST_F(UnsfxTerminalTest, StoppedAtThePromptEchoesWhileStoppedOnly) {
    // Ctrl-Z at the prompt; the shell puts its own modes back meanwhile. Once continued,
    // what is typed is still not shown.
    TerminalSetup shell;
    shell.asJob = true;
    auto run = RunOnTerminal({Unsfx(), dir_ / "locked.exe", "-o", dir_ / "out"},
                             {{"Password for", "\x1a"}, {"[continued]", "pa ss word\n"}}, shell);
    ASSERT_FALSE(run.timedOut) << run.screen;
    EXPECT_EQ(run.exitCode, 0) << run.screen;
    EXPECT_EQ(run.screen.find("pa ss"), std::string::npos) << run.screen;
    EXPECT_EQ(ReadBytes(dir_ / "out"), content_);
    EXPECT_TRUE(run.echoAfter);
}

TEST_F(UnsfxTerminalTest, NoPromptWhenThePasswordIsGivenOrNotNeeded) {
    ContainerSpec open;
    open.passwordProtected = false;
    WriteBytes(dir_ / "open.exe", MakeContainer(content_, open));
    auto run = RunOnTerminal({Unsfx(), "test", "-q", dir_ / "open.exe"}, {});
    EXPECT_EQ(run.exitCode, 0) << run.screen;
    EXPECT_EQ(run.screen, "");

    setenv("UNSFX_PASSWORD", "pa ss word", 1);
    auto fromEnvironment = RunOnTerminal({Unsfx(), "test", "-q", dir_ / "locked.exe"}, {});
    unsetenv("UNSFX_PASSWORD");
    EXPECT_EQ(fromEnvironment.exitCode, 0) << fromEnvironment.screen;
    EXPECT_EQ(fromEnvironment.screen, "");
}

TEST_F(UnsfxTerminalTest, ProgressBarOnlyOnATerminal) {
    ContainerSpec spec;
    spec.compressed = true;
    const Bytes big = TextBytes(400000, 22);
    WriteBytes(dir_ / "big.exe", MakeContainer(Intermediate(big), spec));
    TerminalSetup errorOnly;
    errorOnly.inputOnTerminal = false;

    auto shown =
        RunOnTerminal({Unsfx(), dir_ / "big.exe", "-o", dir_ / "a", "-p", "secret"}, {}, errorOnly);
    EXPECT_EQ(shown.exitCode, 0) << shown.screen;
    EXPECT_EQ(ReadBytes(dir_ / "a"), big);
    // The payload is decoded as it is decrypted: one bar for the whole extraction.
    const std::size_t extracting = shown.screen.find("extracting [");
    ASSERT_NE(extracting, std::string::npos) << shown.screen;
    EXPECT_EQ(shown.screen.find("decoding"), std::string::npos) << shown.screen;
    EXPECT_NE(shown.screen.find("100%", extracting), std::string::npos) << shown.screen;
    EXPECT_NE(shown.screen.find("MB/s"), std::string::npos) << shown.screen;
    EXPECT_NE(shown.screen.find("ETA"), std::string::npos) << shown.screen;
    EXPECT_EQ(shown.screen.find('\n'), std::string::npos);  // one line, redrawn and cleared

    // -q, or standard error elsewhere: no bar.
    auto quiet = RunOnTerminal({Unsfx(), dir_ / "big.exe", "-o", dir_ / "b", "-p", "secret", "-q"},
                               {}, errorOnly);
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.screen, "");
    TerminalSetup errorToFile = errorOnly;
    errorToFile.errorOnTerminal = false;
    auto redirected = RunOnTerminal({Unsfx(), dir_ / "big.exe", "-o", dir_ / "c", "-p", "secret"},
                                    {}, errorToFile);
    EXPECT_EQ(redirected.exitCode, 0);
    EXPECT_EQ(redirected.err, "");
    EXPECT_EQ(redirected.screen, "");
}

}  // namespace
}  // namespace sfx
