// End-to-end: packs files with sfx-pack and extracts them with unsfx in real processes.
#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>
#include <variant>

#include "engine/status.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

using test::Bytes;
using test::BytesOf;

using test::TempDir;

// The tests choose the password sources themselves.
class ClearPasswordVariable : public ::testing::Environment {
  public:
    void SetUp() override { test::UnsetEnv("UNSFX_PASSWORD"); }
};
const auto* const clearPasswordVariable =
    ::testing::AddGlobalTestEnvironment(new ClearPasswordVariable);

test::RunResult Unsfx(std::vector<std::string> arguments, const std::string& input = "") {
    arguments.insert(arguments.begin(), test::BinPath("unsfx"));
    return test::Run(arguments, input);
}

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
        {unsfx, "test", packed, "-o", dir / "o", "-p", "pw"},
        {unsfx, "info", packed, "-p", "pw"},
        {unsfx, "extract", packed, packed, "-o", dir / "o", "-p", "pw"},
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

TEST(UnsfxExtractTest, PasswordFromTheEnvironment) {
    TempDir dir;
    const Bytes content = test::RandomBytes(3000, 5);
    const std::string packed = Pack(dir, content, {"--password", "from env"});
    test::SetEnv("UNSFX_PASSWORD", "from env", 1);
    auto fromEnvironment = Unsfx({packed, "-o", dir / "a"});
    // -p comes first.
    auto overridden = Unsfx({packed, "-o", dir / "b", "-p", "other"});
    test::UnsetEnv("UNSFX_PASSWORD");
    EXPECT_EQ(fromEnvironment.exitCode, 0) << fromEnvironment.err;
    EXPECT_EQ(test::ReadBytes(dir / "a"), content);
    EXPECT_EQ(overridden.exitCode, WrongPassword);
}

TEST(UnsfxExtractTest, NoPasswordAndNoTerminalIsAUsageError) {
    TempDir dir;
    const std::string packed = Pack(dir, test::RandomBytes(100, 6), {"--password", "pw"});
    auto refused = Unsfx({"extract", packed, "-o", dir / "out"}, "pw\n");
    EXPECT_EQ(refused.exitCode, 64);
    EXPECT_NE(refused.err.find("no terminal"), std::string::npos) << refused.err;
    EXPECT_FALSE(std::filesystem::exists(dir / "out"));
    auto testRefused = Unsfx({"test", packed});
    EXPECT_EQ(testRefused.exitCode, 64);

    // A file that needs no password never asks for one.
    const std::string open = Pack(dir, test::RandomBytes(100, 6), {"--no-password"});
    auto unasked = Unsfx({"extract", open, "-o", dir / "out"});
    EXPECT_EQ(unasked.exitCode, 0) << unasked.err;
}

TEST(UnsfxExtractTest, DefaultDestinations) {
    TempDir dir;
    const Bytes content = test::TextBytes(2000, 7);
    const std::string packed = Pack(dir, content, {"--password", "pw"});
    std::filesystem::copy_file(packed, dir / "report.final.exe");
    std::filesystem::copy_file(packed, dir / "plain");
    std::filesystem::create_directory(dir / "folder");

    // Bare FILE: its folder, its name without the last extension.
    auto bare = Unsfx({dir / "report.final.exe", "-p", "pw"});
    EXPECT_EQ(bare.exitCode, 0) << bare.err;
    EXPECT_EQ(test::ReadBytes(dir / "report.final"), content);
    auto again = Unsfx({dir / "report.final.exe", "-p", "pw"});
    EXPECT_EQ(again.exitCode, 73);

    // A name without extension would be the file itself.
    auto noExtension = Unsfx({"extract", dir / "plain", "-p", "pw"});
    EXPECT_EQ(noExtension.exitCode, 0) << noExtension.err;
    EXPECT_EQ(test::ReadBytes(dir / "plain.out"), content);

    // A folder takes the file under its default name, with or without the final slash.
    auto intoFolder = Unsfx({packed, "-o", dir / "folder", "-p", "pw"});
    EXPECT_EQ(intoFolder.exitCode, 0) << intoFolder.err;
    auto intoFolderSlash = Unsfx({dir / "report.final.exe", "-o", dir / "folder/", "-p", "pw"});
    EXPECT_EQ(intoFolderSlash.exitCode, 0) << intoFolderSlash.err;
    EXPECT_EQ(test::ReadBytes(dir / "folder/packed"), content);
    EXPECT_EQ(test::ReadBytes(dir / "folder/report.final"), content);
}

TEST(UnsfxExtractTest, SeveralFilesGiveTheFirstFailure) {
    TempDir dir;
    const Bytes first = test::RandomBytes(4000, 8);
    const Bytes second = test::TextBytes(4000, 9);
    test::WriteBytes(dir / "a.exe", test::MakeContainer(first));
    test::ContainerSpec other;
    other.password = "other";
    test::WriteBytes(dir / "b.exe", test::MakeContainer(first, other));
    test::ContainerSpec open;
    open.passwordProtected = false;
    open.compressed = true;
    test::WriteBytes(dir / "c.exe", test::MakeContainer(test::Intermediate(second), open));
    std::filesystem::create_directory(dir / "out");

    auto result = Unsfx({dir / "a.exe", dir / "b.exe", dir / "c.exe", dir / "missing.exe", "-o",
                         dir / "out", "-p", "secret"});
    EXPECT_EQ(result.exitCode, WrongPassword);
    EXPECT_NE(result.err.find(std::string("b.exe: ") + StatusMessage(WrongPassword)),
              std::string::npos)
        << result.err;
    EXPECT_NE(result.err.find("missing.exe"), std::string::npos) << result.err;
    EXPECT_EQ(test::ReadBytes(dir / "out/a"), first);
    EXPECT_EQ(test::ReadBytes(dir / "out/c"), second);
    EXPECT_FALSE(std::filesystem::exists(dir / "out/b"));

    // Several files to standard output follow one another.
    auto joined = Unsfx({dir / "a.exe", dir / "c.exe", "-o", "-", "-p", "secret"});
    EXPECT_EQ(joined.exitCode, 0) << joined.err;
    Bytes both = first;
    both.insert(both.end(), second.begin(), second.end());
    EXPECT_EQ(BytesOf(joined.out), both);
}

TEST(UnsfxExtractTest, ToStandardOutput) {
    TempDir dir;
    const Bytes content = test::TextBytes(70000, 10);
    for (bool compress : {false, true}) {
        std::vector<std::string> options = {"--password", "pw"};
        if (compress)
            options.push_back("--compress");
        const std::string packed = Pack(dir, content, options);
        auto result = Unsfx({"extract", packed, "-o", "-", "-p", "pw"});
        EXPECT_EQ(result.exitCode, 0) << result.err;
        EXPECT_EQ(BytesOf(result.out), content);
        EXPECT_EQ(result.err, "");
        auto wrong = Unsfx({"extract", packed, "-o", "-", "-p", "bad"});
        EXPECT_EQ(wrong.exitCode, WrongPassword);
        if (compress) {
            EXPECT_EQ(wrong.out, "");  // nothing is decoded from an unverified stream
        }
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"input", "packed.exe", "stub"}));
    }
}

// The temporary folder of the programs run, watched for leftovers.
class UnsfxTestCommandTest : public ::testing::Test {
  protected:
#ifdef _WIN32
    static constexpr const char* TempVariable = "TMP";
#else
    static constexpr const char* TempVariable = "TMPDIR";
#endif
    void SetUp() override {
        test::SetEnv(TempVariable, temp_.path().string().c_str(), 1);
    }
    void TearDown() override {
        test::UnsetEnv(TempVariable);
    }
    TempDir temp_;
    TempDir dir_;
};

TEST_F(UnsfxTestCommandTest, KeepsNothingBehind) {
    const Bytes content = test::TextBytes(50000, 11);
    test::WriteBytes(dir_ / "plain.exe", test::MakeContainer(content));
    test::WriteBytes(dir_ / "packed.exe", test::MakeContainer(test::Intermediate(content), [] {
                         test::ContainerSpec spec;
                         spec.compressed = true;
                         return spec;
                     }()));
    const std::vector<std::string> sources = {"packed.exe", "plain.exe"};

    auto passed = Unsfx({"test", dir_ / "plain.exe", dir_ / "packed.exe", "-p", "secret"});
    EXPECT_EQ(passed.exitCode, 0) << passed.err;
    EXPECT_NE(passed.out.find("plain.exe: OK"), std::string::npos) << passed.out;
    EXPECT_NE(passed.out.find("packed.exe: OK"), std::string::npos) << passed.out;
    EXPECT_EQ(passed.err, "");
    auto quiet = Unsfx({"test", "-q", dir_ / "packed.exe", "-p", "secret"});
    EXPECT_EQ(quiet.exitCode, 0);
    EXPECT_EQ(quiet.out, "");

    auto wrong = Unsfx({"test", dir_ / "packed.exe", "-p", "bad"});
    EXPECT_EQ(wrong.exitCode, WrongPassword);
    test::WriteBytes(dir_ / "broken.exe", test::MakeContainer(test::BytesOf("lzw"), [] {
                         test::ContainerSpec spec;
                         spec.compressed = true;
                         return spec;
                     }()));
    auto broken = Unsfx({"test", dir_ / "broken.exe", "-p", "secret"});
    EXPECT_EQ(broken.exitCode, DecompressFailed);

    EXPECT_TRUE(temp_.Entries().empty());
    EXPECT_EQ(dir_.Entries(), (std::vector<std::string>{"broken.exe", "packed.exe", "plain.exe"}));
}

// A reader for the flat objects `info --json` prints: strings, booleans, whole numbers.
using JsonValue = std::variant<std::string, bool, long long>;
std::map<std::string, JsonValue> ParseFlatObject(const std::string& text) {
    std::map<std::string, JsonValue> object;
    std::size_t at = 0;
    auto skipSpace = [&] {
        while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
    };
    auto expect = [&](char c) {
        skipSpace();
        if (at >= text.size() || text[at] != c)
            throw std::runtime_error("expected " + std::string(1, c) + " at " + std::to_string(at));
        ++at;
    };
    auto readString = [&] {
        expect('"');
        std::string value;
        while (at < text.size() && text[at] != '"') {
            const char c = text[at++];
            if (static_cast<unsigned char>(c) < 0x20 || static_cast<unsigned char>(c) > 0x7e)
                throw std::runtime_error("raw byte in a string");
            if (c != '\\') {
                value += c;
                continue;
            }
            const char escape = text.at(at++);
            switch (escape) {
                case 'n':
                    value += '\n';
                    break;
                case 'r':
                    value += '\r';
                    break;
                case 't':
                    value += '\t';
                    break;
                case 'u': {
                    const unsigned code = std::stoul(text.substr(at, 4), nullptr, 16);
                    if (code > 0xff)
                        throw std::runtime_error("not Latin-1");
                    value += static_cast<char>(code);
                    at += 4;
                    break;
                }
                default:
                    value += escape;
            }
        }
        expect('"');
        return value;
    };
    expect('{');
    for (;;) {
        const std::string name = readString();
        expect(':');
        skipSpace();
        if (text[at] == '"') {
            object[name] = readString();
        } else if (text.compare(at, 4, "true") == 0) {
            object[name] = true;
            at += 4;
        } else if (text.compare(at, 5, "false") == 0) {
            object[name] = false;
            at += 5;
        } else {
            std::size_t used = 0;
            object[name] = std::stoll(text.substr(at), &used);
            at += used;
        }
        skipSpace();
        if (text.at(at) == '}')
            break;
        expect(',');
    }
    ++at;
    skipSpace();
    if (at != text.size())
        throw std::runtime_error("text after the object");
    return object;
}

TEST(UnsfxInfoTest, HostileTextsAreEscapedAndJsonReadsBack) {
    TempDir dir;
    std::string riddle = "\x1b]0;owned\x07\x1b[2J\xe9\x9b\xff\\ \"q\" ";
    riddle += std::string(255 - riddle.size(), 'r');
    ASSERT_EQ(riddle.size(), 255u);
    struct Case {
        std::string riddle;
        Bytes description;  // as stored, NUL included
        std::string descriptionText;
    };
    const Case cases[] = {
        {riddle, {}, ""},
        {"", BytesOf(std::string("\x1b[31mred\r\n\xc3\xa9") + '\0'), "\x1b[31mred\r\n\xc3\xa9"},
    };
    for (const Case& c : cases) {
        test::ContainerSpec spec;
        spec.riddle = c.riddle;
        spec.description = c.description;
        spec.compressed = true;
        const Bytes payload = test::Intermediate(test::TextBytes(1000, 12));
        test::WriteBytes(dir / "x.exe", test::MakeContainer(payload, spec));

        auto human = Unsfx({"info", dir / "x.exe"});
        EXPECT_EQ(human.exitCode, 0) << human.err;
#ifdef _WIN32
        std::erase(human.out, '\r');  // the platform's own line ends
#endif
        for (char ch : human.out) {
            const auto byte = static_cast<unsigned char>(ch);
            EXPECT_TRUE(ch == '\n' || (byte >= 0x20 && byte < 0x7f)) << int(byte);
        }
        if (!c.riddle.empty()) {
            EXPECT_NE(human.out.find("\\x1b]0;owned\\x07\\x1b[2J\\xe9\\x9b\\xff\\\\ \"q\" rrr"),
                      std::string::npos)
                << human.out;
            EXPECT_NE(human.out.find(std::string(200, 'r') + "\n"), std::string::npos);
        }

        auto json = Unsfx({"info", "--json", dir / "x.exe"});
        EXPECT_EQ(json.exitCode, 0) << json.err;
        ASSERT_FALSE(json.out.empty());
        EXPECT_EQ(json.out.back(), '\n');
        std::map<std::string, JsonValue> object;
        ASSERT_NO_THROW(object = ParseFlatObject(json.out.substr(0, json.out.size() - 1)))
            << json.out;
        EXPECT_EQ(std::get<std::string>(object["riddle"]), c.riddle);
        EXPECT_EQ(std::get<std::string>(object["description"]), c.descriptionText);
        EXPECT_EQ(std::get<bool>(object["passwordProtected"]), true);
        EXPECT_EQ(std::get<bool>(object["compressed"]), true);
        EXPECT_EQ(std::get<long long>(object["payloadSize"]),
                  static_cast<long long>(payload.size()));
        EXPECT_EQ(std::get<long long>(object["containerOffset"]),
                  static_cast<long long>(spec.stub.size()));
    }

    test::WriteBytes(dir / "junk", BytesOf("no container here"));
    auto damaged = Unsfx({"info", dir / "junk"});
    EXPECT_EQ(damaged.exitCode, DataDamaged);
    EXPECT_EQ(damaged.out, "");
}

}  // namespace
}  // namespace sfx
