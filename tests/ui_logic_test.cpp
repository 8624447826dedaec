// The extractor's start-up and dialog logic, without windows: long paths, the default
// destination, the destination path, the browsed folder, the messages and the loop.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/status.h"
#include "platform/lookup.h"
#include "tests/support/test_support.h"
#include "ui/dialog_logic.h"
#include "ui/message_loop.h"
#include "ui/startup.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace sfx::ui {
namespace {

std::string Expanded(const std::string& path) {
    char text[TextSize] = {};
    std::memcpy(text, path.data(), std::min(path.size(), TextSize - 1));
    ExpandLongPath(text, text);
    return text;
}

struct Destination {
    std::string folder;
    std::string fileName;
    bool operator==(const Destination&) const = default;
};
std::ostream& operator<<(std::ostream& out, const Destination& d) {
    return out << "[" << d.folder << "][" << d.fileName << "]";
}

Destination DefaultDestination(const std::string& argument0, const std::string& module) {
    SelectOwnPath(argument0.c_str(), module.c_str());
    InitDefaultDestination();
    return {DestinationFolder, DestinationFileName};
}

TEST(SplitPathTest, PartsOfAPath) {
    struct Case {
        const char* path;
        const char* drive;
        const char* dir;
        const char* fname;
        const char* ext;
    };
    const Case cases[] = {
        {"C:\\Program Files\\My Documents\\Annual Report.exe",
         "C:", "\\Program Files\\My Documents\\", "Annual Report", ".exe"},
        {"C:\\Setup.exe", "C:", "\\", "Setup", ".exe"},
        {"D:\\Data\\Report.final.exe", "D:", "\\Data\\", "Report.final", ".exe"},
        {"D:\\Data\\README", "D:", "\\Data\\", "README", ""},
        {"d:/mixed\\sep/x.tar.gz", "d:", "/mixed\\sep/", "x.tar", ".gz"},
        {"\\\\server\\share\\x.exe", "", "\\\\server\\share\\", "x", ".exe"},
        {"bare.exe", "", "", "bare", ".exe"},
        {"C:\\dotted.dir\\noext", "C:", "\\dotted.dir\\", "noext", ""},
    };
    for (const auto& c : cases) {
        char drive[TextSize], dir[TextSize], fname[TextSize], ext[TextSize];
        platform::_splitpath(c.path, drive, dir, fname, ext);
        EXPECT_STREQ(drive, c.drive) << c.path;
        EXPECT_STREQ(dir, c.dir) << c.path;
        EXPECT_STREQ(fname, c.fname) << c.path;
        EXPECT_STREQ(ext, c.ext) << c.path;
    }
}

#ifndef _WIN32
// The stand-in file system: stored names of some short aliases and letter cases.
const platform::StoredName storedNames[] = {
    {"C:\\PROGRA~1", "Program Files"},
    {"C:\\PROGRA~1\\MYDOCU~1", "My Documents"},
    {"C:\\PROGRA~1\\MYDOCU~1\\ANNUAL~1.EXE", "Annual Report.exe"},
    {"C:\\SETUP.EXE", "Setup.exe"},
    {"c:\\tools", "Tools"},
    {"c:\\tools\\x.exe", "x.exe"},
    {"c:\\Program Files", "Program Files"},
    {"c:\\Program Files\\LONGNA~1", "Long Name Folder"},
    {"c:\\Program Files\\LONGNA~1\\Report.final.exe", "Report.final.exe"},
    {"D:\\Data", "Data"},
    {"D:\\Data\\Report.final.exe", "Report.final.exe"},
    {"D:\\Data\\README", "README"},
    {"\\\\server\\share\\dir", "Dir"},
    {"\\\\server\\share\\dir\\app.exe", "App.exe"},
    {"rel", "Rel"},
    {"rel\\x.exe", "X.exe"},
};

class StoredNamesTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetStoredNames(storedNames, std::size(storedNames)); }
    void TearDown() override { platform::SetStoredNames(nullptr, 0); }
};

TEST_F(StoredNamesTest, LongPathsFromStoredNames) {
    EXPECT_EQ(Expanded("C:\\PROGRA~1\\MYDOCU~1\\ANNUAL~1.EXE"),
              "C:\\Program Files\\My Documents\\Annual Report.exe\\");
    EXPECT_EQ(Expanded("C:\\SETUP.EXE"), "C:\\Setup.exe\\");
    // The trailing backslash goes first; the drive keeps its letter case.
    EXPECT_EQ(Expanded("c:\\tools\\x.exe\\"), "c:\\Tools\\x.exe\\");
    // A short alias in the middle; the long parts only change their letter case.
    EXPECT_EQ(Expanded("c:\\PROGRAM FILES\\longna~1\\REPORT.FINAL.EXE"),
              "c:\\Program Files\\Long Name Folder\\Report.final.exe\\");
    EXPECT_EQ(Expanded("C:\\"), "C:\\");

    // The caller's text loses its final backslash even when the result goes elsewhere.
    char path[TextSize] = "C:\\SETUP.EXE\\";
    char out[TextSize] = {};
    ExpandLongPath(path, out);
    EXPECT_STREQ(path, "C:\\SETUP.EXE");
    EXPECT_STREQ(out, "C:\\Setup.exe\\");
}

TEST_F(StoredNamesTest, PathsWithoutDriveAndFailedLookups) {
    EXPECT_EQ(Expanded("\\\\server\\share\\dir\\app.exe"), "\\\\server\\share\\Dir\\App.exe\\");
    EXPECT_EQ(Expanded("rel\\x.exe"), "Rel\\X.exe\\");
    EXPECT_EQ(Expanded("x.exe"), "x.exe\\");
    // A component that can't be looked up stays as written, not the name found before it.
    EXPECT_EQ(Expanded("C:\\PROGRA~1\\MYDOCU~1\\setup"),
              "C:\\Program Files\\My Documents\\setup\\");
    EXPECT_EQ(Expanded("E:\\nothing\\here"), "E:\\nothing\\here\\");
}

TEST_F(StoredNamesTest, LongPathsThatDoNotFit) {
    // 250 characters whose long form is longer than the text.
    std::string path = "C:\\PROGRA~1";
    while (path.size() < 250) path += "\\abcdefghi";
    struct {
        char text[TextSize];
        char guard[16];
    } buffer;
    std::memset(&buffer, '#', sizeof buffer);
    std::memcpy(buffer.text, path.c_str(), path.size() + 1);
    ExpandLongPath(buffer.text, buffer.text);
    EXPECT_EQ(std::string(buffer.text), path + "\\");
    EXPECT_EQ(std::string(buffer.guard, 16), std::string(16, '#'));

    std::string full(255, 'x');
    full[0] = 'C', full[1] = ':', full[2] = '\\';
    std::memcpy(buffer.text, full.c_str(), full.size() + 1);
    ExpandLongPath(buffer.text, buffer.text);
    EXPECT_EQ(std::string(buffer.text), full);
    EXPECT_EQ(std::string(buffer.guard, 16), std::string(16, '#'));
}

// Stored names that make the long form fill the text exactly, or overflow it by one byte:
// each step builds "name\result" in a text of TextSize bytes. Run under AddressSanitizer,
// a byte written past any of the texts shows.
TEST(LongPathBoundaryTest, LongFormsThatJustFitOrJustDoNot) {
    const std::string a100(100, 'a');
    const std::string a101(101, 'a');
    const std::string b153(153, 'b');
    const std::string n254(254, 'n');
    struct Case {
        std::vector<platform::StoredName> names;
        std::string path;
        std::string expected;
    };
    const std::vector<Case> cases = {
        // Relative: "a...\\b...\\" is 255 characters, the text's last byte its NUL.
        {{{"x", a100.c_str()}, {"x\\y", b153.c_str()}}, "x\\y", a100 + "\\" + b153 + "\\"},
        // One more: the path as given.
        {{{"x", a101.c_str()}, {"x\\y", b153.c_str()}}, "x\\y", "x\\y\\"},
        // Below a drive: the last name and its separator fill the step's text exactly; the
        // drive no longer fits before them.
        {{{"C:\\x\\y", n254.c_str()}}, "C:\\x\\y", "C:\\x\\y\\"},
        {{{"C:\\x", a100.c_str()}, {"C:\\x\\y", b153.c_str()}}, "C:\\x\\y", "C:\\x\\y\\"},
    };
    for (const Case& c : cases) {
        platform::SetStoredNames(c.names.data(), c.names.size());
        struct {
            char text[TextSize];
            char guard[16];
        } buffer;
        std::memset(&buffer, '#', sizeof buffer);
        std::memcpy(buffer.text, c.path.c_str(), c.path.size() + 1);
        ExpandLongPath(buffer.text, buffer.text);
        EXPECT_EQ(std::string(buffer.text), c.expected) << c.names[0].name;
        EXPECT_EQ(std::string(buffer.guard, 16), std::string(16, '#'));
    }
    platform::SetStoredNames(nullptr, 0);
}

TEST_F(StoredNamesTest, DefaultDestinationFromTheOwnPath) {
    const std::vector<std::pair<std::string, Destination>> cases = {
        {"C:\\PROGRA~1\\MYDOCU~1\\ANNUAL~1.EXE",
         {"C:\\Program Files\\My Documents\\", "Annual Report"}},
        {"C:\\SETUP.EXE", {"C:\\", "Setup"}},
        {"D:\\Data\\Report.final.exe", {"D:\\Data\\", "Report.final"}},
        {"D:\\Data\\README", {"D:\\Data\\", "README"}},
        {"c:\\tools\\x.exe", {"c:\\Tools\\", "x"}},
        {"\\\\server\\share\\dir\\app.exe", {"\\\\server\\share\\Dir\\", "App"}},
    };
    for (const auto& [path, expected] : cases) {
        // The module's name is the own path.
        EXPECT_EQ(DefaultDestination(path, path), expected) << path;
        EXPECT_EQ(std::string(OwnPath()), path);
    }
}

TEST_F(StoredNamesTest, OwnFileThatDoesNotOpenByItsFirstArgument) {
    // Started by a bare name without extension: the module's file is read instead.
    EXPECT_EQ(DefaultDestination("setup", "C:\\SETUP.EXE"), (Destination{"C:\\", "Setup"}));
    EXPECT_EQ(std::string(OwnPath()), "C:\\SETUP.EXE");

    // A first argument that opens some other file (the one extracted last time, named as the
    // program was started) is not the program: the module's name wins.
    test::TempDir dir;
    test::WriteBytes(dir / "own.exe", test::BytesOf("MZ"));
    const std::string relative = dir / "own.exe";  // not a drive path here
    EXPECT_EQ(DefaultDestination(relative, "D:\\Data\\Report.final.exe"),
              (Destination{"D:\\Data\\", "Report.final"}));
    EXPECT_EQ(std::string(OwnPath()), "D:\\Data\\Report.final.exe");
    // Only when the module's name is unknown is the first argument read.
    SelectOwnPath(relative.c_str(), nullptr);
    EXPECT_EQ(std::string(OwnPath()), relative);

    // Nothing absolute at all: the current folder, still ending with a separator.
    EXPECT_EQ(DefaultDestination("x.exe", ""), (Destination{".\\", "x"}));
    // An own path too long for the texts leaves the destination to the user.
    const std::string tooLong = "C:\\" + std::string(256, 'y') + ".exe";
    EXPECT_EQ(DefaultDestination(tooLong, tooLong), (Destination{"", ""}));
}
#endif

TEST(LookupTest, WithoutStoredNamesEveryComponentStaysAsWritten) {
#ifdef _WIN32
    // On Windows the real file system answers: short aliases and letter case go.
    test::TempDir dir;
    const std::string folder = dir / "Long Folder Name.d";
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));
    const std::string file = folder + "\\Report.final.v2.exe";
    test::WriteBytes(file, test::BytesOf("MZ"));
    char longPath[MAX_PATH] = {};
    char shortPath[MAX_PATH] = {};
    ASSERT_NE(GetLongPathNameA(file.c_str(), longPath, MAX_PATH), 0u);
    ASSERT_NE(GetShortPathNameA(file.c_str(), shortPath, MAX_PATH), 0u);
    CharUpperA(shortPath + 3);
    EXPECT_EQ(Expanded(shortPath), std::string(longPath) + "\\");
    EXPECT_EQ(Expanded(longPath), std::string(longPath) + "\\");
    EXPECT_EQ(
        DefaultDestination(shortPath, ""),
        (Destination{std::string(longPath, std::strrchr(longPath, '\\') + 1), "Report.final.v2"}));
#else
    EXPECT_EQ(Expanded("C:\\PROGRA~1\\x.exe"), "C:\\PROGRA~1\\x.exe\\");
    EXPECT_EQ(DefaultDestination("C:\\A\\b.c.d", "C:\\A\\b.c.d"), (Destination{"C:\\A\\", "b.c"}));
#endif
}

// A double-byte code page as Windows' code page 932 has it: lead bytes 0x81-0x9F and
// 0xE0-0xFC, trail bytes that may be 0x5C ("\"). Shift-JIS: 予 = 97 5C, 定 = 92 E8,
// 表 = 95 5C, 計 = 8C 76, 算 = 8E 5A.
bool ShiftJisLeadByte(unsigned char byte) {
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}
#define YOTEIHYO "\x97\x5C\x92\xE8\x95\x5C"
#define HYOKEISAN "\x95\x5C\x8C\x76\x8E\x5A"

class DoubleByteTest : public ::testing::Test {
  protected:
    void SetUp() override { platform::SetLeadByteTest(ShiftJisLeadByte); }
    void TearDown() override { platform::SetLeadByteTest(nullptr); }
};

// Every scan for a separator or a dot skips the trail byte of a double-byte character.
TEST_F(DoubleByteTest, ScansSkipTrailBytes) {
    struct Case {
        const char* path;
        std::size_t folderLength;
        std::size_t extensionStart;
        bool endsWithSeparator;
        std::size_t characters;  // as Windows counts them in an ANSI double-byte code page
    };
    const Case cases[] = {
        {"C:\\sjis\\" YOTEIHYO "\\" HYOKEISAN "\\Report.exe", 22, 28, false, 26},
        {"C:\\sjis\\" YOTEIHYO, 8, 14, false, 11},  // ends with the trail 5C
        {"C:\\sjis\\" YOTEIHYO "\\", 15, 15, true, 12},
        {YOTEIHYO ".exe", 0, 6, false, 7},
        {"\x95\x5C", 0, 2, false, 1},   // 表 alone
        {"C:\\a\x95", 3, 5, false, 5},  // a lead byte at the end
        {"\x95:x", 0, 3, false, 2},     // no drive: ':' is a trail
        {"d:/mixed\\sep/x.tar.gz", 13, 18, false, 21},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(platform::FolderLength(c.path), c.folderLength) << c.path;
        EXPECT_EQ(platform::ExtensionStart(c.path), c.extensionStart) << c.path;
        EXPECT_EQ(platform::EndsWithSeparator(c.path), c.endsWithSeparator) << c.path;
#ifdef _WIN32
        EXPECT_EQ(platform::PathLength(c.path, 255), c.characters) << c.path;
#else
        EXPECT_EQ(platform::PathLength(c.path, 255), std::strlen(c.path)) << c.path;  // bytes
#endif
    }
}

// The destination from the own path, the join and the browsed folder under code page 932.
TEST_F(DoubleByteTest, DestinationsOfJapaneseFolders) {
    char drive[TextSize], dir[TextSize], fname[TextSize], ext[TextSize];
    platform::_splitpath("C:\\sjis\\" YOTEIHYO "\\" HYOKEISAN "\\Report.exe", drive, dir, fname,
                         ext);
    EXPECT_STREQ(drive, "C:");
    EXPECT_STREQ(dir, "\\sjis\\" YOTEIHYO "\\" HYOKEISAN "\\");
    EXPECT_STREQ(fname, "Report");
    EXPECT_STREQ(ext, ".exe");

#ifndef _WIN32
    // Not "C:\sjis\予定表予定表\表表計算\".
    EXPECT_EQ(DefaultDestination("x", "C:\\sjis\\" YOTEIHYO "\\" HYOKEISAN "\\Report.exe"),
              (Destination{"C:\\sjis\\" YOTEIHYO "\\" HYOKEISAN "\\", "Report"}));
    EXPECT_EQ(Expanded("C:\\sjis\\" YOTEIHYO "\\"), "C:\\sjis\\" YOTEIHYO "\\");
#endif

    // A folder chosen in the browser ends with 表: it gets its "\", and the file goes in it
    // rather than beside it under a merged name ("C:\sjis\予定表Report").
    char folder[TextSize] = {};
    EXPECT_TRUE(TakeBrowsedFolder("C:\\sjis\\" YOTEIHYO, folder));
    EnsureFinalSeparator(folder);
    EXPECT_STREQ(folder, "C:\\sjis\\" YOTEIHYO "\\");
    char out[WorkTextSize];
    EXPECT_TRUE(JoinDestination("C:\\sjis\\" YOTEIHYO, "Report", out, sizeof out));
    EXPECT_STREQ(out, "C:\\sjis\\" YOTEIHYO "\\Report");
    // Without the double-byte code page the same bytes end with a "\".
    platform::SetLeadByteTest(nullptr);
#ifndef _WIN32
    EXPECT_TRUE(platform::EndsWithSeparator("C:\\sjis\\" YOTEIHYO));
#endif
}

TEST(DestinationTest, FolderAndFileNameJoined) {
    char out[WorkTextSize];
    const std::vector<std::tuple<std::string, std::string, std::string>> cases = {
        {"C:\\Out\\", "Report", "C:\\Out\\Report"},
        {"C:\\Out", "Report", "C:\\Out\\Report"},  // not "C:\OutReport"
        {"C:/Out/", "Report", "C:/Out/Report"},
        {"C:\\", "Report", "C:\\Report"},
        {"", "Report", "Report"},
        {"C:\\Out\\", "", "C:\\Out\\"},
    };
    for (const auto& [folder, name, expected] : cases) {
        EXPECT_TRUE(JoinDestination(folder.c_str(), name.c_str(), out, sizeof out));
        EXPECT_EQ(std::string(out), expected);
    }

    // The longest that fits, and one more character.
    const std::string folder = "C:\\" + std::string(200, 'f');
    std::string name(WorkTextSize - 1 - folder.size() - 1, 'n');
    EXPECT_TRUE(JoinDestination(folder.c_str(), name.c_str(), out, sizeof out));
    EXPECT_EQ(std::strlen(out), WorkTextSize - 1);
    name += 'n';
    struct {
        char text[WorkTextSize];
        char guard[8];
    } buffer;
    std::memset(&buffer, '#', sizeof buffer);
    EXPECT_FALSE(JoinDestination(folder.c_str(), name.c_str(), buffer.text, WorkTextSize));
    EXPECT_STREQ(buffer.text, "");
    EXPECT_EQ(std::string(buffer.guard, 8), std::string(8, '#'));
}

TEST(DestinationTest, FolderAfterBrowsing) {
    char folder[TextSize] = "";
    EnsureFinalSeparator(folder);
    EXPECT_STREQ(folder, "\\");
    std::strcpy(folder, "C:\\Out");
    EnsureFinalSeparator(folder);
    EXPECT_STREQ(folder, "C:\\Out\\");
    EnsureFinalSeparator(folder);
    EXPECT_STREQ(folder, "C:\\Out\\");

    // The root of a drive keeps its one backslash.
    EXPECT_TRUE(TakeBrowsedFolder("D:\\", folder));
    EnsureFinalSeparator(folder);
    EXPECT_STREQ(folder, "D:\\");

    // A chosen folder must leave room for its final backslash, else the old one stays.
    const std::string fits = "E:\\" + std::string(TextCharacters - 4, 'a');
    EXPECT_TRUE(TakeBrowsedFolder(fits.c_str(), folder));
    EnsureFinalSeparator(folder);
    EXPECT_EQ(std::string(folder), fits + "\\");
    const std::string tooLong = fits + "b";
    EXPECT_FALSE(TakeBrowsedFolder(tooLong.c_str(), folder));
    EXPECT_EQ(std::string(folder), fits + "\\");
    // A full folder typed by the user has no room for one: it stays as it is.
    std::memset(folder, 'z', TextSize - 1);
    folder[TextSize - 1] = '\0';
    EnsureFinalSeparator(folder);
    EXPECT_EQ(std::strlen(folder), TextSize - 1);
}

TEST(MessagesTest, SuccessAndFailureTexts) {
    char message[MessageTextSize];
    SuccessMessage("Report", message);
    EXPECT_STREQ(message, "Your file has been successfully extracted to Report");
    const std::string longest(255, 'r');
    SuccessMessage(longest.c_str(), message);
    EXPECT_EQ(std::string(message), "Your file has been successfully extracted to " + longest);

    EXPECT_STREQ(FailureMessage(WriteFailed), "Can't write data. May be disk is full?");
    EXPECT_STREQ(FailureMessage(ReadFailed), "Can't read data. May be file is damaged?");
    EXPECT_STREQ(FailureMessage(OutOfMemory), "Not enough memory");
    EXPECT_STREQ(FailureMessage(WrongPassword),
                 "The passsword you have entered is incorrect. Please enter the correct password");
    EXPECT_STREQ(FailureMessage(DecompressFailed),
                 "Can't decompress data. May be your file is damaged or your disk is full?");
    EXPECT_STREQ(FailureMessage(DataDamaged), "Data is damaged!");
    for (int status : {0, 5, 8, -1}) EXPECT_STREQ(FailureMessage(status), "") << status;
}

struct FakeMessage {
    int id = 0;
    unsigned wParam = 0;
};

TEST(MessageLoopTest, EndsOnQuitAndOnError) {
    // Results as GetMessageA gives them, one per call.
    std::vector<int> results = {1, 1, 0};
    std::vector<int> handled;
    auto run = [&] {
        handled.clear();
        std::size_t next = 0;
        FakeMessage message;
        return RunMessageLoop(
            message,
            [&](FakeMessage& m) {
                m.id = static_cast<int>(next) + 1;
                m.wParam = 7;
                // Past the scripted results the source keeps failing.
                return next < results.size() ? results[next++] : -1;
            },
            [&](FakeMessage& m) { handled.push_back(m.id); });
    };
    EXPECT_EQ(run(), 7);  // the quit message's wParam
    EXPECT_EQ(handled, (std::vector<int>{1, 2}));
    results = {1, -1, 1};
    EXPECT_EQ(run(), 0);
    EXPECT_EQ(handled, (std::vector<int>{1}));
}

}  // namespace
}  // namespace sfx::ui
