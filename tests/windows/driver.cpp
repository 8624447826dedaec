// End-to-end tests of the Windows extractor: each case packs a self-extracting file with the
// real extractor.exe as its stub, starts it, works its dialog through window messages as a
// user would, reads every message box and checks the files and the exit code.
#include <gtest/gtest.h>
#include <windows.h>
// (commctrl.h needs windows.h before it)
#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "engine/status.h"
#include "tests/support/test_support.h"
#include "tools/container_writer.h"
#include "ui/resource.h"

namespace sfx {
namespace {

using namespace test;

constexpr DWORD WaitLimit = 30000;  // ms; only reached when something hangs
constexpr char DialogCaption[] = "Self-Extracting module";
constexpr char WrongPasswordText[] =
    "The passsword you have entered is incorrect. Please enter the correct password";
constexpr char WriteFailedText[] = "Can't write data. May be disk is full?";
// A compressed file of random bytes whose extraction takes longer than the 5 s after which
// Windows calls a window that does not look at its queue hung: 640 MiB took 5.0 s on one
// processor once the 64-bit build's vector cipher ran at full speed, so 1 GiB.
constexpr std::size_t LongExtractionSize = std::size_t{1} << 30;

// A path of the build (a POSIX path) as Wine's drive Z: shows it.
std::string HostPath(const char* path) {
    std::string windows = std::string("Z:") + path;
    for (auto& c : windows) {
        if (c == '/')
            c = '\\';
    }
    return windows;
}

std::string LongPath(const std::string& path) {
    char text[MAX_PATH] = {};
    GetLongPathNameA(path.c_str(), text, MAX_PATH);
    return text;
}

// True when the tests run under Wine rather than Windows.
bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

// UTF-16 to and from UTF-8, for names outside the ANSI code page.
std::wstring Wide(const std::string& utf8) {
    wchar_t text[1024] = {};
    MultiByteToWideChar(CP_UTF8, 0, utf8.c_str(), -1, text, 1024);
    return text;
}

Bytes ReadWide(const std::wstring& path) {
    Bytes bytes;
    if (std::FILE* file = _wfopen(path.c_str(), L"rb")) {
        for (int c; (c = std::fgetc(file)) != EOF;) bytes.push_back(static_cast<std::uint8_t>(c));
        std::fclose(file);
    }
    return bytes;
}

std::vector<std::wstring> WideEntries(const std::wstring& folder) {
    std::vector<std::wstring> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder))
        names.push_back(entry.path().filename().wstring());
    std::sort(names.begin(), names.end());
    return names;
}

struct Packed {
    bool compressed = false;
    std::string password = "right one";
    std::string riddle = "What opens?";
    std::string description = "Quarterly figures";
    bool protectedByPassword = true;
};

// Packs the file at inputPath behind the extractor into dir\name, as sfx-pack does.
std::string PackFile(const TempDir& dir, const std::string& name, const std::string& inputPath,
                     const Packed& how = {}) {
    PackOptions options;
    options.password = how.password;
    options.passwordProtected = how.protectedByPassword;
    options.compressed = how.compressed;
    options.riddle = how.riddle;
    options.description = how.description;
    std::string error;
    const std::string out = dir / name;
    EXPECT_TRUE(PackSelfExtractor(HostPath(SFX_EXTRACTOR), inputPath, out, options, error))
        << error;
    return out;
}

// Packs `content` behind the extractor into dir\name.
std::string Pack(const TempDir& dir, const std::string& name, const Bytes& content,
                 const Packed& how = {}) {
    WriteBytes(dir / "input.tmp", content);
    const std::string out = PackFile(dir, name, dir / "input.tmp", how);
    std::filesystem::remove(dir / "input.tmp");
    return out;
}

struct MessageBoxSeen {
    std::string caption;
    std::string text;
    std::wstring wideText;
};

std::string TextOf(HWND window) {
    char text[1024] = {};
    SendMessageA(window, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

std::wstring WideTextOf(HWND window) {
    wchar_t text[1024] = {};
    SendMessageW(window, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(text));
    return text;
}

std::string ClassOf(HWND window) {
    char name[64] = {};
    GetClassNameA(window, name, sizeof name);
    return name;
}

bool HasChildOfClass(HWND window, const char* className) {
    return FindWindowExA(window, nullptr, className, nullptr) != nullptr;
}

struct WindowSearch {
    DWORD process;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindow(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<WindowSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search->process)
        search->found.push_back(window);
    return TRUE;
}

// One run of a packed extractor.
class Extractor {
  public:
    // Starts `path` with `commandLine` (the path, quoted, by default) in `folder`.
    explicit Extractor(const std::string& path, std::string commandLine = "",
                       const std::string& folder = "") {
        if (commandLine.empty())
            commandLine = "\"" + path + "\"";
        STARTUPINFOA startup = {};
        startup.cb = sizeof startup;
        started_ =
            CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                           folder.empty() ? nullptr : folder.c_str(), &startup, &process_) != 0;
    }
    // Starts `path`, a name the ANSI code page may lack, with `environment` (a block of
    // NUL-terminated "NAME=value" texts) when one is given.
    explicit Extractor(const std::wstring& path, const std::wstring& environment = L"") {
        std::wstring commandLine = L"\"" + path + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        started_ = CreateProcessW(
                       path.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                       CREATE_UNICODE_ENVIRONMENT,
                       environment.empty() ? nullptr : const_cast<wchar_t*>(environment.c_str()),
                       nullptr, &startup, &process_) != 0;
    }
    ~Extractor() {
        if (!started_)
            return;
        if (WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(process_.hProcess, 99);
            WaitForSingleObject(process_.hProcess, WaitLimit);
        }
        CloseHandle(process_.hThread);
        CloseHandle(process_.hProcess);
    }
    Extractor(const Extractor&) = delete;
    Extractor& operator=(const Extractor&) = delete;

    bool started() const { return started_; }

    // The process's top-level windows.
    std::vector<HWND> Windows() const {
        WindowSearch search{process_.dwProcessId, {}};
        EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&search));
        return search.found;
    }

    template <typename Test>
    HWND WaitForWindow(Test test) const {
        for (DWORD waited = 0; waited < WaitLimit; waited += 20) {
            for (HWND window : Windows()) {
                if (IsWindowVisible(window) && test(window))
                    return window;
            }
            if (WaitForSingleObject(process_.hProcess, 20) != WAIT_TIMEOUT)
                return nullptr;
        }
        return nullptr;
    }

    // Waits for the dialog; the first call must find it.
    HWND Dialog() {
        if (dialog_ == nullptr)
            dialog_ = WaitForWindow([](HWND w) { return TextOf(w) == DialogCaption; });
        return dialog_;
    }
    bool DialogOpen() const { return dialog_ != nullptr && IsWindow(dialog_); }

    HWND MainWindow() const {
        for (HWND window : Windows()) {
            if (ClassOf(window) == "BLOWFISH_durederoro")
                return window;
        }
        return nullptr;
    }

    HWND Control(int id) { return GetDlgItem(Dialog(), id); }
    std::string Field(int id) { return TextOf(Control(id)); }
    std::wstring WideField(int id) { return WideTextOf(Control(id)); }
    void SetField(int id, const std::string& text) {
        SendMessageA(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    void SetWideField(int id, const std::wstring& text) {
        SendMessageW(Control(id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()));
    }
    // Posted, since the handler runs modal boxes before it returns.
    void Click(int id) { PostMessageA(Control(id), BM_CLICK, 0, 0); }
    void Key(int id, WPARAM key) {
        PostMessageA(Control(id), WM_KEYDOWN, key, 1);
        PostMessageA(Control(id), WM_KEYUP, key, 0xC0000001);
    }
    void Type(int id, const std::string& text) {
        for (unsigned char c : text) PostMessageA(Control(id), WM_CHAR, c, 1);
    }

    // A click of the mouse on a control, as the input queue hands it over.
    void MouseClick(int id) {
        RECT area = {};
        GetClientRect(Control(id), &area);
        const LPARAM at = MAKELPARAM(area.right / 2, area.bottom / 2);
        PostMessageA(Control(id), WM_LBUTTONDOWN, MK_LBUTTON, at);
        PostMessageA(Control(id), WM_LBUTTONUP, 0, at);
    }

    bool Running() const { return WaitForSingleObject(process_.hProcess, 0) == WAIT_TIMEOUT; }

    // Waits for the next message box (nullptr when the process ends without one).
    HWND MessageBoxWindow() const {
        return WaitForWindow([&](HWND w) {
            return w != dialog_ && ClassOf(w) == "#32770" && GetDlgItem(w, 0xFFFF) != nullptr;
        });
    }

    // Waits for the next message box, reads it and closes it with its OK button.
    MessageBoxSeen NextMessageBox() {
        HWND box = MessageBoxWindow();
        if (box == nullptr)
            return {"(no message box)", "", L""};
        MessageBoxSeen seen{TextOf(box), TextOf(GetDlgItem(box, 0xFFFF)),
                            WideTextOf(GetDlgItem(box, 0xFFFF))};
        PostMessageA(box, WM_COMMAND, IDOK, 0);
        for (DWORD waited = 0; IsWindow(box) && waited < WaitLimit; waited += 20) Sleep(20);
        return seen;
    }

    HWND FolderBrowser() {
        return WaitForWindow([&](HWND w) {
            return w != dialog_ && ClassOf(w) == "#32770" && HasChildOfClass(w, "SysTreeView32");
        });
    }

    // The exit code, once the process has ended by itself (-1 if it does not).
    int ExitCode() {
        if (WaitForSingleObject(process_.hProcess, WaitLimit) != WAIT_OBJECT_0)
            return -1;
        DWORD code = 0;
        GetExitCodeProcess(process_.hProcess, &code);
        return static_cast<int>(code);
    }

  private:
    bool started_ = false;
    PROCESS_INFORMATION process_ = {};
    HWND dialog_ = nullptr;
};

void ExpectBox(Extractor& run, const std::string& caption, const std::string& text) {
    const MessageBoxSeen seen = run.NextMessageBox();
    EXPECT_EQ(seen.caption, caption);
    EXPECT_EQ(seen.text, text);
}

// The environment of this process with LANG and LC_ALL set to `locale`, as a block for
// CreateProcessW: Wine takes a program's ANSI code page from them.
std::wstring EnvironmentWithLocale(const std::wstring& locale) {
    std::wstring block;
    wchar_t* own = GetEnvironmentStringsW();
    for (const wchar_t* entry = own; *entry != L'\0'; entry += wcslen(entry) + 1) {
        const std::wstring text = entry;
        if (text.rfind(L"LANG=", 0) != 0 && text.rfind(L"LC_ALL=", 0) != 0)
            block += text + L'\0';
    }
    FreeEnvironmentStringsW(own);
    block += L"LANG=" + locale + L'\0' + L"LC_ALL=" + locale + L'\0';
    return block;
}

// Opens the browser, waits until it has walked down to the folder it was asked to select
// and chooses it. In a fresh Wine prefix the first browser can miss the selection while the
// shell starts up; cancelling keeps the stored folder, so the next browser is asked for the
// same one. False when no browser selected it.
bool ChooseStoredFolderInBrowser(Extractor& run) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        run.Click(IDC_BROWSE);
        HWND browser = run.FolderBrowser();
        if (browser == nullptr)
            return false;
        // The browser may still be filling its tree and walks down to the selection one
        // level at a time: wait until the selection has left the root and stayed put.
        HWND tree = FindWindowExA(browser, nullptr, WC_TREEVIEWA, nullptr);
        const LRESULT root = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0);
        LRESULT last = 0;
        int steady = 0;
        for (int i = 0; i < 300 && steady < 20; ++i) {
            const LRESULT caret = SendMessageA(tree, TVM_GETNEXTITEM, TVGN_CARET, 0);
            steady = caret != 0 && caret != root && caret == last ? steady + 1 : 0;
            last = caret;
            Sleep(50);
        }
        const bool selected = steady >= 20;
        if (selected)
            Sleep(200);
        PostMessageA(browser, WM_COMMAND, selected ? IDOK : IDCANCEL, 0);
        for (int i = 0; i < 100 && IsWindow(browser); ++i) Sleep(50);
        Sleep(200);
        if (selected)
            return true;
    }
    return false;
}

TEST(ExtractorTest, ExtractsIntoTheDefaultDestination) {
    for (bool compressed : {false, true}) {
        TempDir dir;
        const Bytes content = compressed ? TextBytes(300000, 1) : RandomBytes(70001, 2);
        Packed how;
        how.compressed = compressed;
        const std::string exe = Pack(dir, "Annual Report.v2.exe", content, how);

        Extractor run(exe);
        ASSERT_TRUE(run.started());
        ASSERT_NE(run.Dialog(), nullptr);
        // The folder of the executable in long form and its name without the last extension.
        EXPECT_EQ(run.Field(IDC_FOLDER), LongPath(dir.path().string()) + "\\");
        EXPECT_EQ(run.Field(IDC_FILENAME), "Annual Report.v2");
        EXPECT_EQ(run.Field(IDC_DESCRIPTION), "Quarterly figures");
        EXPECT_EQ(run.Field(IDC_PASSWORD), "");
        // The main window exists but is never shown.
        ASSERT_NE(run.MainWindow(), nullptr);
        EXPECT_FALSE(IsWindowVisible(run.MainWindow()));
        // The dialog has its own taskbar button with the program's icons, although the hidden
        // main window owns it (an owned window without WS_EX_APPWINDOW gets none).
        EXPECT_EQ(GetWindow(run.Dialog(), GW_OWNER), run.MainWindow());
        const LONG_PTR exStyle = GetWindowLongPtrA(run.Dialog(), GWL_EXSTYLE);
        EXPECT_TRUE(exStyle & WS_EX_APPWINDOW);
        EXPECT_FALSE(exStyle & WS_EX_TOOLWINDOW);
        // Wine answers WM_GETICON from another process with no icon whatever was set.
        if (!UnderWine()) {
            EXPECT_NE(SendMessageA(run.Dialog(), WM_GETICON, ICON_BIG, 0), 0);
            EXPECT_NE(SendMessageA(run.Dialog(), WM_GETICON, ICON_SMALL, 0), 0);
        }

        run.SetField(IDC_PASSWORD, "right one");
        run.Click(IDC_GO);
        ExpectBox(run, "Information",
                  "Your file has been successfully extracted to Annual Report.v2");
        EXPECT_EQ(run.ExitCode(), 0);
        EXPECT_EQ(ReadBytes(dir / "Annual Report.v2"), content);
        EXPECT_EQ(dir.Entries(),
                  (std::vector<std::string>{"Annual Report.v2", "Annual Report.v2.exe"}));
    }
}

TEST(ExtractorTest, PasswordMistakesKeepTheDialogOpen) {
    TempDir dir;
    const Bytes content = TextBytes(20000, 3);
    const std::string exe = Pack(dir, "secret.exe", content, {.compressed = true});
    Extractor run(exe);
    ASSERT_NE(run.Dialog(), nullptr);
    run.SetField(IDC_FILENAME, "result.txt");

    run.Click(IDC_GO);
    ExpectBox(run, "Error!", "You have not entered a password. Please do so!");
    EXPECT_TRUE(run.DialogOpen());

    run.SetField(IDC_PASSWORD, "wrong one");
    run.Click(IDC_GO);
    ExpectBox(run, "Error!", WrongPasswordText);
    EXPECT_TRUE(run.DialogOpen());
    EXPECT_EQ(run.Field(IDC_FILENAME), "result.txt");
    EXPECT_EQ(run.Field(IDC_FOLDER), LongPath(dir.path().string()) + "\\");
    EXPECT_EQ(dir.Entries(), std::vector<std::string>{"secret.exe"});

    run.SetField(IDC_PASSWORD, "right one");
    run.Click(IDC_GO);
    ExpectBox(run, "Information", "Your file has been successfully extracted to result.txt");
    EXPECT_EQ(run.ExitCode(), 0);
    EXPECT_EQ(ReadBytes(dir / "result.txt"), content);
}

TEST(ExtractorTest, RiddleAndDescription) {
    TempDir dir;
    Packed how;
    const std::string withRiddle = Pack(dir, "with.exe", BytesOf("x"), how);
    how.riddle = "";
    how.description = "";  // the file's last byte is 0
    const std::string without = Pack(dir, "without.exe", BytesOf("x"), how);

    Extractor first(withRiddle);
    ASSERT_NE(first.Dialog(), nullptr);
    first.Click(IDC_RIDDLE);
    ExpectBox(first, "Riddle for password", "What opens?");
    EXPECT_TRUE(first.DialogOpen());
    first.Click(IDOK);
    EXPECT_EQ(first.ExitCode(), 0);

    Extractor second(without);
    ASSERT_NE(second.Dialog(), nullptr);
    EXPECT_EQ(second.Field(IDC_DESCRIPTION), "");
    second.Click(IDC_RIDDLE);
    ExpectBox(second, "Riddle for password", "");
    second.Click(IDOK);
    EXPECT_EQ(second.ExitCode(), 0);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"with.exe", "without.exe"}));
}

// The thread's window with the keyboard focus.
HWND FocusOf(HWND dialog) {
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info))
        return nullptr;
    return info.hwndFocus;
}

TEST(ExtractorTest, DescriptionIsShownAsItStands) {
    TempDir dir;
    Packed how;
    how.description = "R&D report: Tom & Jerry";
    const std::string exe = Pack(dir, "ampersand.exe", BytesOf("x"), how);
    Extractor run(exe);
    ASSERT_NE(run.Dialog(), nullptr);
    EXPECT_EQ(run.Field(IDC_DESCRIPTION), "R&D report: Tom & Jerry");
    EXPECT_TRUE(GetWindowLongA(run.Control(IDC_DESCRIPTION), GWL_STYLE) & SS_NOPREFIX);
    // "&D" is no mnemonic: Alt+D leaves the focus where it is. Wine's dialog manager takes
    // mnemonics from static texts whatever their style, so this is Windows' promise only.
    const bool onWine =
        GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr;
    for (int i = 0; i < 100 && FocusOf(run.Dialog()) != run.Control(IDC_PASSWORD); ++i) Sleep(20);
    ASSERT_EQ(FocusOf(run.Dialog()), run.Control(IDC_PASSWORD));
    if (!onWine) {
        PostMessageA(run.Control(IDC_PASSWORD), WM_SYSCHAR, 'd', 1 << 29);
        Sleep(300);
        EXPECT_EQ(FocusOf(run.Dialog()), run.Control(IDC_PASSWORD));
    }
    run.Click(IDOK);
    EXPECT_EQ(run.ExitCode(), 0);
}

// Input that arrives while the extraction runs waits in the queue: it must not act once the
// job is done. Each row queues a second action behind "GO!" before the dialog takes "GO!".
TEST(ExtractorTest, InputQueuedDuringAnExtractionIsDropped) {
    enum Action { GoClickedAgain, EnterPressed, CancelClicked };
    TempDir dir;
    const Bytes content = TextBytes(8 << 20, 6);
    const std::string exe = Pack(dir, "long.exe", content, {.compressed = true});
    for (Action action : {GoClickedAgain, EnterPressed, CancelClicked}) {
        std::filesystem::remove(dir / "long");
        Extractor run(exe);
        ASSERT_NE(run.Dialog(), nullptr) << action;
        run.SetField(IDC_PASSWORD, "right one");
        run.Click(IDC_GO);
        switch (action) {
            case GoClickedAgain:
                run.MouseClick(IDC_GO);
                break;
            case EnterPressed:
                run.Key(IDC_PASSWORD, VK_RETURN);
                break;
            case CancelClicked:
                run.MouseClick(IDOK);
                break;
        }
        // One extraction, one box, and the box stays until the user closes it.
        HWND box = run.MessageBoxWindow();
        ASSERT_NE(box, nullptr) << action;
        Sleep(1000);
        EXPECT_TRUE(IsWindow(box) && IsWindowVisible(box)) << action;
        EXPECT_TRUE(run.Running()) << action;
        EXPECT_TRUE(ReadBytes(dir / "long") == content) << action;
        ExpectBox(run, "Information", "Your file has been successfully extracted to long");
        EXPECT_EQ(run.NextMessageBox().caption, "(no message box)") << action;
        EXPECT_EQ(run.ExitCode(), 0) << action;
        EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"long", "long.exe"})) << action;
    }
}

TEST(ExtractorTest, EveryWayOutEndsWithZeroAndNoFile) {
    TempDir dir;
    const std::string exe = Pack(dir, "leave.exe", BytesOf("never written"));
    enum Way { CancelButton, EscapeKey, CloseBox, ExitCommand };
    for (Way way : {CancelButton, EscapeKey, CloseBox, ExitCommand}) {
        Extractor run(exe);
        ASSERT_NE(run.Dialog(), nullptr) << way;
        run.SetField(IDC_PASSWORD, "right one");
        switch (way) {
            case CancelButton:
                run.Click(IDOK);  // "Cancel" carries the identifier 1
                break;
            case EscapeKey:
                run.Key(IDC_PASSWORD, VK_ESCAPE);
                break;
            case CloseBox:
                PostMessageA(run.Dialog(), WM_SYSCOMMAND, SC_CLOSE, 0);
                break;
            case ExitCommand:
                // Another command changes nothing; 105 destroys the main window.
                SendMessageA(run.MainWindow(), WM_COMMAND, 104, 0);
                Sleep(200);
                EXPECT_TRUE(run.DialogOpen());
                PostMessageA(run.MainWindow(), WM_COMMAND, IDM_EXIT, 0);
                break;
        }
        EXPECT_EQ(run.ExitCode(), 0) << way;
        EXPECT_EQ(dir.Entries(), std::vector<std::string>{"leave.exe"}) << way;
    }
}

TEST(ExtractorTest, BrowsingStartsFromTheStoredFolder) {
    TempDir dir;
    const std::string exe = Pack(dir, "browse.exe", BytesOf("x"));
    const std::string sub = dir / "Sub Folder";
    ASSERT_TRUE(CreateDirectoryA(sub.c_str(), nullptr));
    Extractor run(exe);
    ASSERT_NE(run.Dialog(), nullptr);
    const std::string start = run.Field(IDC_FOLDER);

    // A typed folder is not read by "..."; a cancel puts the stored one back.
    run.SetField(IDC_FOLDER, "C:\\typed");
    run.Click(IDC_BROWSE);
    HWND browser = run.FolderBrowser();
    ASSERT_NE(browser, nullptr);
    bool titled = false;
    for (HWND child = GetWindow(browser, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
        titled = titled || TextOf(child) == "Browse for folder";
    EXPECT_TRUE(titled);
    PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
    for (int i = 0; i < 100 && run.Field(IDC_FOLDER) == "C:\\typed"; ++i) Sleep(50);
    EXPECT_EQ(run.Field(IDC_FOLDER), start);

    // "GO!" stores the folder even with an empty password; the browser then opens on it and
    // choosing it gives it back with its final "\".
    run.SetField(IDC_FOLDER, LongPath(sub));
    run.Click(IDC_GO);
    ExpectBox(run, "Error!", "You have not entered a password. Please do so!");
    ASSERT_TRUE(ChooseStoredFolderInBrowser(run));
    EXPECT_EQ(run.Field(IDC_FOLDER), LongPath(sub) + "\\");

    // An empty folder stored by "GO!" and a cancelled browse give a single "\".
    run.SetField(IDC_FOLDER, "");
    run.Click(IDC_GO);
    ExpectBox(run, "Error!", "You have not entered a password. Please do so!");
    run.Click(IDC_BROWSE);
    browser = run.FolderBrowser();
    ASSERT_NE(browser, nullptr);
    PostMessageA(browser, WM_COMMAND, IDCANCEL, 0);
    for (int i = 0; i < 100 && run.Field(IDC_FOLDER) != "\\"; ++i) Sleep(50);
    EXPECT_EQ(run.Field(IDC_FOLDER), "\\");
    run.Click(IDOK);
    EXPECT_EQ(run.ExitCode(), 0);
}

TEST(ExtractorTest, DestinationsThatWorkAndThatDoNot) {
    TempDir dir;
    const Bytes content = RandomBytes(1000, 4);
    const std::string exe = Pack(dir, "dest.exe", content);
    ASSERT_TRUE(CreateDirectoryA((dir / "out").c_str(), nullptr));
    Extractor run(exe);
    ASSERT_NE(run.Dialog(), nullptr);
    run.SetField(IDC_PASSWORD, "right one");

    // A folder that does not exist is not created.
    run.SetField(IDC_FOLDER, dir / "missing\\");
    run.SetField(IDC_FILENAME, "data.bin");
    run.Click(IDC_GO);
    ExpectBox(run, "Error!", WriteFailedText);
    // A destination longer than the texts is refused, not cut to some other path.
    run.SetField(IDC_FOLDER, dir / "out\\" + std::string(300, 'x'));
    run.Click(IDC_GO);
    ExpectBox(run, "Error!", WriteFailedText);
    run.SetField(IDC_FOLDER, dir / "out\\");
    run.SetField(IDC_FILENAME, std::string(250, 'n'));
    run.Click(IDC_GO);
    ExpectBox(run, "Error!", WriteFailedText);
    // An empty file name makes the folder itself the destination.
    run.SetField(IDC_FILENAME, "");
    run.Click(IDC_GO);
    ExpectBox(run, "Error!", WriteFailedText);
    EXPECT_TRUE(run.DialogOpen());
    EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));

    // A folder typed without its final "\" still names the folder.
    run.SetField(IDC_FOLDER, dir / "out");
    run.SetField(IDC_FILENAME, "data.bin");
    run.Click(IDC_GO);
    ExpectBox(run, "Information", "Your file has been successfully extracted to data.bin");
    EXPECT_EQ(run.ExitCode(), 0);
    EXPECT_EQ(ReadBytes(dir / "out\\data.bin"), content);
    EXPECT_EQ(dir.Entries(), (std::vector<std::string>{"dest.exe", "out"}));
}

// Started as cmd starts "Bare.Name" typed in the program's folder: the program's path, and
// the bare name as the first argument. A file of that name there (the one extracted last
// time) is not the program.
TEST(ExtractorTest, StartedByABareNameWithoutExtension) {
    for (bool staleFile : {false, true}) {
        TempDir dir;
        const Bytes content = TextBytes(5000, 5);
        const std::string exe = Pack(dir, "Bare.Name.exe", content);
        if (staleFile)
            WriteBytes(dir / "Bare.Name", BytesOf("MZ what was extracted before"));
        Extractor run(exe, "Bare.Name", dir.path().string());
        ASSERT_NE(run.Dialog(), nullptr) << staleFile;
        EXPECT_EQ(run.Field(IDC_DESCRIPTION), "Quarterly figures") << staleFile;
        EXPECT_EQ(run.Field(IDC_FOLDER), LongPath(dir.path().string()) + "\\") << staleFile;
        EXPECT_EQ(run.Field(IDC_FILENAME), "Bare.Name") << staleFile;
        run.SetField(IDC_PASSWORD, "right one");
        run.Click(IDC_GO);
        ExpectBox(run, "Information", "Your file has been successfully extracted to Bare.Name");
        EXPECT_EQ(run.ExitCode(), 0) << staleFile;
        EXPECT_EQ(ReadBytes(dir / "Bare.Name"), content) << staleFile;
    }
}

// A user name in Cyrillic on an English Windows: the program reads itself and extracts
// beside itself although the ANSI code page has none of the folder's characters.
TEST(ExtractorTest, FolderOutsideTheAnsiCodePage) {
    TempDir dir;
    const Bytes content = TextBytes(5000, 8);
    const std::string packed = Pack(dir, "packed.exe", content, {.compressed = true});
    const std::wstring folder = dir.path().wstring() + L"\\Иван Документы";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    const std::wstring exe = folder + L"\\Отчёт.exe";
    ASSERT_TRUE(MoveFileW(Wide(packed).c_str(), exe.c_str()));
    Extractor run(exe);
    ASSERT_NE(run.Dialog(), nullptr);
    EXPECT_EQ(run.Field(IDC_DESCRIPTION), "Quarterly figures");
    wchar_t longFolder[MAX_PATH] = {};
    GetLongPathNameW(folder.c_str(), longFolder, MAX_PATH);
    EXPECT_EQ(run.WideField(IDC_FOLDER), std::wstring(longFolder) + L"\\");
    EXPECT_EQ(run.WideField(IDC_FILENAME), L"Отчёт");
    run.SetField(IDC_PASSWORD, "right one");
    run.Click(IDC_GO);
    const MessageBoxSeen seen = run.NextMessageBox();
    EXPECT_EQ(seen.caption, "Information");
    EXPECT_TRUE(seen.wideText == L"Your file has been successfully extracted to Отчёт");
    EXPECT_EQ(run.ExitCode(), 0);
    EXPECT_EQ(ReadWide(folder + L"\\Отчёт"), content);
    EXPECT_TRUE(WideEntries(folder) == (std::vector<std::wstring>{L"Отчёт", L"Отчёт.exe"}));
}

// Under the Japanese code page 932 the second byte of 予 and 表 is 0x5C, "\" elsewhere: the
// default folder, a browsed folder and the destination keep such names whole.
TEST(ExtractorTest, JapaneseFoldersUnderCodePage932) {
    TempDir dir;
    const Bytes content = TextBytes(5000, 9);
    Packed how;
    how.description = "\x97\x5C\x92\xE8\x95\x5C";  // 予定表 in code page 932
    const std::string packed = Pack(dir, "packed.exe", content, how);
    const std::wstring top = dir.path().wstring() + L"\\sjis\\予定表";
    const std::wstring folder = top + L"\\表計算";
    ASSERT_TRUE(CreateDirectoryW((dir.path().wstring() + L"\\sjis").c_str(), nullptr));
    // Wine names the host's files in the character set of the locale it was started in: a
    // locale that does not exist leaves it none that holds these names.
    ASSERT_TRUE(CreateDirectoryW(top.c_str(), nullptr))
        << "cannot create a folder with a Japanese name: the locale this program was started "
           "in (LC_ALL, LANG) must exist on this machine (scripts/setup.sh windows makes it)";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr));
    ASSERT_TRUE(MoveFileW(Wide(packed).c_str(), (folder + L"\\Report.exe").c_str()));

    Extractor run(folder + L"\\Report.exe", EnvironmentWithLocale(L"ja_JP.UTF-8"));
    ASSERT_NE(run.Dialog(), nullptr);
    if (run.WideField(IDC_DESCRIPTION) != L"予定表") {
        run.Click(IDOK);
        // Started in a Japanese locale on purpose, the row must run.
        ASSERT_EQ(std::getenv("SFX_EXPECT_CODE_PAGE_932"), nullptr)
            << "not in code page 932 although started in a Japanese locale";
        GTEST_SKIP() << "Wine did not run the program in code page 932: it takes the code page "
                        "from the locale (LANG, LC_ALL) it was started in, which must exist on "
                        "this machine (localedef -i ja_JP -f UTF-8 ja_JP.UTF-8)";
    }
    wchar_t longFolder[MAX_PATH] = {};
    GetLongPathNameW(folder.c_str(), longFolder, MAX_PATH);
    EXPECT_TRUE(run.WideField(IDC_FOLDER) == std::wstring(longFolder) + L"\\");
    EXPECT_TRUE(run.WideField(IDC_FILENAME) == L"Report");

    // "GO!" stores a folder typed without its final "\"; the browser opens on it and
    // choosing it gives it back with its "\"; the file lands inside it.
    wchar_t longTop[MAX_PATH] = {};
    GetLongPathNameW(top.c_str(), longTop, MAX_PATH);
    run.SetWideField(IDC_FOLDER, longTop);
    run.Click(IDC_GO);
    ExpectBox(run, "Error!", "You have not entered a password. Please do so!");
    ASSERT_TRUE(ChooseStoredFolderInBrowser(run));
    EXPECT_TRUE(run.WideField(IDC_FOLDER) == std::wstring(longTop) + L"\\");
    run.SetField(IDC_PASSWORD, "right one");
    run.Click(IDC_GO);
    ExpectBox(run, "Information", "Your file has been successfully extracted to Report");
    EXPECT_EQ(run.ExitCode(), 0);
    EXPECT_EQ(ReadWide(top + L"\\Report"), content);
    EXPECT_TRUE(WideEntries(top) == (std::vector<std::wstring>{L"Report", L"表計算"}));
}

// Windows calls a window hung that has not looked at its queue for 5 seconds, and offers to
// end the program. Sampled through a long extraction, the dialog never is.
TEST(ExtractorTest, NeverHungDuringALongExtraction) {
    TempDir dir;
    // Incompressible bytes: the decoder gains least on them. Written, packed and compared
    // on disk a piece at a time, so that a 32-bit driver runs this too.
    ASSERT_TRUE(WriteRandomFile(dir / "input.tmp", LongExtractionSize, 10));
    const std::string exe = PackFile(dir, "long.exe", dir / "input.tmp", {.compressed = true});
    std::filesystem::remove(dir / "input.tmp");
    // On one processor, as on a small machine, so that decrypting on every core gains nothing
    // and the extraction outlasts Windows' 5 s: a program starts on the processors its
    // parent may use.
    DWORD_PTR own = 0;
    DWORD_PTR system = 0;
    ASSERT_TRUE(GetProcessAffinityMask(GetCurrentProcess(), &own, &system));
    ASSERT_TRUE(SetProcessAffinityMask(GetCurrentProcess(), own & (~own + 1)));
    Extractor run(exe);
    SetProcessAffinityMask(GetCurrentProcess(), own);
    ASSERT_NE(run.Dialog(), nullptr);
    run.SetField(IDC_PASSWORD, "right one");
    const DWORD start = GetTickCount();
    run.Click(IDC_GO);
    int samples = 0;
    int hung = 0;
    for (bool done = false; !done && GetTickCount() - start < 300000; Sleep(250)) {
        for (HWND window : run.Windows())
            done = done || (window != run.Dialog() && ClassOf(window) == "#32770");
        ++samples;
        hung += IsHungAppWindow(run.Dialog()) ? 1 : 0;
    }
    const DWORD took = GetTickCount() - start;
    EXPECT_EQ(hung, 0) << "of " << samples << " samples in " << took << " ms";
    // Longer than Windows waits before it calls a window hung.
    EXPECT_GT(took, 6000u);
    ExpectBox(run, "Information", "Your file has been successfully extracted to long");
    EXPECT_EQ(run.ExitCode(), 0);
    EXPECT_TRUE(SameAsRandomFile(dir / "long", LongExtractionSize, 10));
}

TEST(ExtractorTest, EndsWhenTheDialogCannotBeCreated) {
    TempDir dir;
    const std::string exe = dir / "nodialog.exe";
    ASSERT_TRUE(CopyFileA(HostPath(SFX_EXTRACTOR).c_str(), exe.c_str(), FALSE));
    // The dialog template is replaced by one whose only control has a class that does not
    // exist, so that the dialog can't be created.
    std::vector<WORD> dialog = {
        LOWORD(WS_POPUP), HIWORD(WS_POPUP), 0, 0, 1, 0, 0, 100, 50, 0, 0, 0, 0};
    const DWORD controlStyle = WS_CHILD | WS_VISIBLE;
    const WORD control[] = {LOWORD(controlStyle), HIWORD(controlStyle), 0, 0, 0, 0, 10, 10, 42};
    dialog.insert(dialog.end(), std::begin(control), std::end(control));
    for (char c : std::string("NoSuchClass")) dialog.push_back(static_cast<WORD>(c));
    dialog.insert(dialog.end(), {0, 0, 0});
    HANDLE update = BeginUpdateResourceA(exe.c_str(), FALSE);
    ASSERT_NE(update, nullptr);
    ASSERT_TRUE(UpdateResourceA(update, RT_DIALOG, MAKEINTRESOURCEA(IDD_EXTRACT),
                                MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), dialog.data(),
                                static_cast<DWORD>(dialog.size() * sizeof(WORD))));
    ASSERT_TRUE(EndUpdateResourceA(update, FALSE));
    Extractor run(exe);
    ASSERT_TRUE(run.started());
    EXPECT_EQ(run.ExitCode(), 0);
    EXPECT_EQ(run.Dialog(), nullptr);
}

// Moves past a text or an ordinal of a dialog template.
const WORD* SkipTextOrOrdinal(const WORD* at) {
    if (*at == 0xFFFF)
        return at + 2;
    while (*at++ != 0) {
    }
    return at;
}

// The size in dialog units that the template stores for its control number `index`.
SIZE TemplateControlSize(HMODULE module, int index) {
    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(IDD_EXTRACT), RT_DIALOG);
    const auto* dialog = static_cast<const DLGTEMPLATE*>(LockResource(LoadResource(module, found)));
    if (dialog == nullptr || index >= dialog->cdit)
        return {-1, -1};
    const WORD* at = reinterpret_cast<const WORD*>(dialog + 1);
    at = SkipTextOrOrdinal(SkipTextOrOrdinal(SkipTextOrOrdinal(at)));  // menu, class, title
    if (dialog->style & DS_SETFONT)
        at = SkipTextOrOrdinal(at + 1);  // point size, face name
    for (int i = 0;; ++i) {
        // Each item starts on a DWORD boundary.
        at = reinterpret_cast<const WORD*>((reinterpret_cast<UINT_PTR>(at) + 3) & ~UINT_PTR{3});
        const auto* item = reinterpret_cast<const DLGITEMTEMPLATE*>(at);
        if (i == index)
            return {item->cx, item->cy};
        at = SkipTextOrOrdinal(SkipTextOrOrdinal(reinterpret_cast<const WORD*>(item + 1)));
        at = reinterpret_cast<const WORD*>(reinterpret_cast<const BYTE*>(at + 1) + *at);
    }
}

INT_PTR CALLBACK IdleDialogProc(HWND, UINT message, WPARAM, LPARAM) {
    return message == WM_INITDIALOG;
}

// The resources as built: the dialog template made into a window here, control by control
// in template (tab) order, the title string and the icons.
TEST(ExtractorTest, ResourcesAsBuilt) {
    HMODULE module =
        LoadLibraryExA(HostPath(SFX_EXTRACTOR).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
    ASSERT_NE(module, nullptr);
    char title[100] = {};
    EXPECT_EQ(LoadStringA(module, IDS_WINDOW_TITLE, title, sizeof title), 28);
    EXPECT_STREQ(title, "REDI Durederoro VuzuZizevade");
    for (auto [id, size] : {std::pair{IDI_LARGE, 32}, std::pair{IDI_SMALL, 16}}) {
        HICON icon =
            static_cast<HICON>(LoadImageA(module, MAKEINTRESOURCEA(id), IMAGE_ICON, 0, 0, 0));
        ASSERT_NE(icon, nullptr) << id;
        ICONINFO info = {};
        ASSERT_TRUE(GetIconInfo(icon, &info));
        BITMAP mask = {};
        GetObjectA(info.hbmMask, sizeof mask, &mask);
        EXPECT_EQ(mask.bmWidth, size) << id;
        DeleteObject(info.hbmMask);
        DeleteObject(info.hbmColor);
        DestroyIcon(icon);
    }

    // The icon control (sixth in the template) keeps its size.
    const SIZE icon = TemplateControlSize(module, 5);
    EXPECT_EQ(icon.cx, 20);
    EXPECT_EQ(icon.cy, 20);

    HWND dialog =
        CreateDialogParamA(module, MAKEINTRESOURCEA(IDD_EXTRACT), nullptr, IdleDialogProc, 0);
    ASSERT_NE(dialog, nullptr);
    EXPECT_EQ(TextOf(dialog), DialogCaption);
    const LONG style = GetWindowLongA(dialog, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | DS_MODALFRAME),
              WS_CAPTION | WS_SYSMENU | DS_MODALFRAME);
    struct Expected {
        int id;
        const char* className;
        const char* text;
        LONG styles;  // these bits must be set
    };
    const Expected controls[] = {
        {IDC_PASSWORD, "Edit", "", WS_TABSTOP | ES_PASSWORD | ES_AUTOHSCROLL},
        {IDC_FOLDER, "Edit", "", WS_TABSTOP | ES_AUTOHSCROLL},
        {IDC_FILENAME, "Edit", "", WS_TABSTOP | ES_AUTOHSCROLL},
        {IDC_GO, "Button", "GO!", WS_TABSTOP | BS_DEFPUSHBUTTON},
        {IDOK, "Button", "Cancel", WS_TABSTOP | WS_GROUP},
        {0xFFFF, "Static", nullptr, SS_ICON},
        {0xFFFF, "Static", "Enter password:", WS_GROUP},
        {0xFFFF, "Button", "Password", BS_GROUPBOX | BS_CENTER},
        {0xFFFF, "Button", "Where to extract?", BS_GROUPBOX | BS_CENTER | BS_NOTIFY},
        {0xFFFF, "Static", "Folder:", WS_GROUP},
        {IDC_BROWSE, "Button", "...", 0},
        {0xFFFF, "Static", "File:", WS_GROUP},
        {IDC_DESCRIPTION, "Static", nullptr, WS_GROUP | SS_NOPREFIX},
        {IDC_RIDDLE, "Button", "Read riddle", WS_TABSTOP | WS_GROUP},
    };
    HWND control = GetWindow(dialog, GW_CHILD);
    for (const auto& expected : controls) {
        ASSERT_NE(control, nullptr) << expected.id;
        EXPECT_EQ(GetDlgCtrlID(control) & 0xFFFF, expected.id);
        EXPECT_EQ(ClassOf(control), expected.className) << expected.id;
        if (expected.text != nullptr) {
            EXPECT_EQ(TextOf(control), expected.text) << expected.id;
        }
        const LONG styles = GetWindowLongA(control, GWL_STYLE);
        EXPECT_EQ(styles & expected.styles, expected.styles) << expected.id;
        EXPECT_TRUE(styles & WS_VISIBLE) << expected.id;
        control = GetWindow(control, GW_HWNDNEXT);
    }
    EXPECT_EQ(control, nullptr);
    EXPECT_FALSE(GetWindowLongA(GetDlgItem(dialog, IDC_BROWSE), GWL_STYLE) & WS_TABSTOP);
    // The caption the description keeps when the own file can't be read.
    const std::string caption = TextOf(GetDlgItem(dialog, IDC_DESCRIPTION));
    EXPECT_NE(caption.find("Velintra"), std::string::npos) << caption;
    EXPECT_NE(caption.find("example.org"), std::string::npos) << caption;
    // Position and size in dialog units.
    RECT units = {0, 0, 277, 90};
    MapDialogRect(dialog, &units);
    RECT client = {};
    GetClientRect(dialog, &client);
    EXPECT_EQ(client.right, units.right);
    EXPECT_EQ(client.bottom, units.bottom);
    DestroyWindow(dialog);
    FreeLibrary(module);
}

// The file sfx-pack made from the sample letter (see tests/windows/CMakeLists.txt): typing
// the password and pressing Enter extracts it.
TEST(ExtractorTest, SfxPackFileExtractsWithPasswordAndEnter) {
    TempDir dir;
    const std::string exe = dir / "letter.exe";
    ASSERT_TRUE(CopyFileA(HostPath(SFX_PACKED_LETTER).c_str(), exe.c_str(), FALSE));
    Extractor run(exe);
    ASSERT_NE(run.Dialog(), nullptr);
    EXPECT_EQ(run.Field(IDC_DESCRIPTION), "A letter for you");
    run.Type(IDC_PASSWORD, "open sesame");
    run.Key(IDC_PASSWORD, VK_RETURN);
    ExpectBox(run, "Information", "Your file has been successfully extracted to letter");
    EXPECT_EQ(run.ExitCode(), 0);
    EXPECT_EQ(ReadBytes(dir / "letter"), ReadBytes(HostPath(SFX_SOURCE_DIR "/samples/letter.txt")));
}

// Tells Wine to take the DLL `name` from the program's folder before its own (native, then
// builtin) for programs called `program`, as Windows does for a DLL it does not protect; the
// setting goes with the object. Wine reads it from its registry as each program starts
// (DllOverrides in the user's AppDefaults); Windows has no such setting and ignores it.
class PreferNativeDll {
  public:
    PreferNativeDll(const std::wstring& program, const std::wstring& name)
        : key_(L"Software\\Wine\\AppDefaults\\" + program) {
        HKEY overrides = nullptr;
        const std::wstring path = key_ + L"\\DllOverrides";
        if (RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                            &overrides, nullptr) != ERROR_SUCCESS)
            return;
        const wchar_t order[] = L"native,builtin";
        set_ = RegSetValueExW(overrides, name.c_str(), 0, REG_SZ,
                              reinterpret_cast<const BYTE*>(order), sizeof order) == ERROR_SUCCESS;
        RegCloseKey(overrides);
    }
    ~PreferNativeDll() { RegDeleteTreeW(HKEY_CURRENT_USER, key_.c_str()); }
    PreferNativeDll(const PreferNativeDll&) = delete;
    PreferNativeDll& operator=(const PreferNativeDll&) = delete;
    bool set() const { return set_; }

  private:
    std::wstring key_;
    bool set_ = false;
};

// A DLL that another download dropped beside the program, under the name of one the system
// loads on the program's behalf after it started and does not protect (outside KnownDLLs),
// never runs. Windows looks in the program's folder first for such a DLL; Wine prefers its
// own, unless told to prefer the program's folder, as here.
TEST(ExtractorTest, PlantedDllsNeverLoad) {
    for (const wchar_t* name : {L"uxtheme"}) {
        TempDir dir;
        const std::string exe = Pack(dir, "planted-dll-download.exe", BytesOf("x"));
        const std::wstring planted = dir.path().wstring() + L"\\" + name + L".dll";
        ASSERT_TRUE(CopyFileW(Wide(HostPath(SFX_MARKER_DLL)).c_str(), planted.c_str(), FALSE));
        const PreferNativeDll preferred(L"planted-dll-download.exe", name);
        ASSERT_TRUE(preferred.set()) << name;
        {
            Extractor run(exe);
            ASSERT_NE(run.Dialog(), nullptr) << name;
            run.Click(IDOK);
            EXPECT_EQ(run.ExitCode(), 0);
        }
        EXPECT_EQ(GetFileAttributesW((planted + L".loaded").c_str()), INVALID_FILE_ATTRIBUTES)
            << "the planted " << name << ".dll ran";
    }
}

// The mark Windows gives a downloaded file: its Zone.Identifier stream (which Wine keeps as a
// file "NAME:Zone.Identifier" beside it).
constexpr char DownloadMark[] =
    "[ZoneTransfer]\r\nZoneId=3\r\nHostUrl=https://downloads.example.org/report.exe\r\n";

// The mark of the file at `path`, in the form that takes paths longer than MAX_PATH.
std::wstring MarkOf(const std::string& path) {
    return L"\\\\?\\" + Wide(path) + L":Zone.Identifier";
}

bool WriteWide(const std::wstring& path, const Bytes& bytes) {
    std::FILE* file = _wfopen(path.c_str(), L"wb");
    if (file == nullptr)
        return false;
    const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

// What is extracted from a marked file carries the same mark, from the dialog and from
// unsfx.exe, and so does the still compressed stream kept when decoding fails; from an
// unmarked file comes an unmarked one.
TEST(ExtractorTest, DownloadMarkCarriesOver) {
    enum Way { FromTheDialog, ByUnsfx };
    struct Row {
        Way way;
        bool marked;
        bool damaged;   // compressed data that does not decode: the stream is kept as ".lzw"
        bool longName;  // a destination as long as the fields take: with the stream's name
                        // added, the mark's path is longer than MAX_PATH
    };
    const Row rows[] = {
        {FromTheDialog, true, false, false}, {FromTheDialog, false, false, false},
        {FromTheDialog, true, true, false},  {FromTheDialog, true, false, true},
        {ByUnsfx, true, false, false},       {ByUnsfx, false, false, false},
        {ByUnsfx, true, true, false},        {ByUnsfx, true, true, true},
    };
    const Bytes content = TextBytes(30000, 12);
    for (const Row& row : rows) {
        const std::string label = std::string(row.way == FromTheDialog ? "dialog" : "unsfx") +
                                  (row.marked ? ", marked" : ", unmarked") +
                                  (row.damaged ? ", damaged" : "") + (row.longName ? ", long" : "");
        TempDir dir;
        ASSERT_LT(dir.path().string().size(), 200u);
        const std::string name =
            row.longName ? std::string(245 - dir.path().string().size(), 'n') : "report";
        std::string exe;
        if (row.damaged) {
            ContainerSpec spec;
            spec.password = "right one";
            spec.compressed = true;
            spec.stub = ReadBytes(HostPath(SFX_EXTRACTOR));
            exe = dir / (name + ".exe");
            ASSERT_TRUE(WriteBytes(exe, MakeContainer(BytesOf("lzw"), spec)));
        } else {
            exe = Pack(dir, name + ".exe", content, {.compressed = true});
        }
        if (row.marked) {
            ASSERT_TRUE(WriteWide(MarkOf(exe), BytesOf(DownloadMark))) << label;
        }

        if (row.way == FromTheDialog) {
            Extractor run(exe);
            ASSERT_NE(run.Dialog(), nullptr) << label;
            run.SetField(IDC_PASSWORD, "right one");
            run.Click(IDC_GO);
            if (row.damaged) {
                ExpectBox(run, "Error!", StatusMessage(DecompressFailed));
                run.Click(IDOK);
            } else {
                ExpectBox(run, "Information",
                          "Your file has been successfully extracted to " + name);
            }
            EXPECT_EQ(run.ExitCode(), 0) << label;
        } else {
            const RunResult result = Unsfx({"extract", exe, "-o", dir / name, "-p", "right one"});
            EXPECT_EQ(result.exitCode, row.damaged ? DecompressFailed : 0) << result.err;
        }

        const std::string extracted = dir / (row.damaged ? name + ".lzw" : name);
        EXPECT_FALSE(ReadBytes(extracted).empty()) << label;
        if (row.marked) {
            EXPECT_EQ(ReadWide(MarkOf(extracted)), BytesOf(DownloadMark)) << label;
        } else {
            EXPECT_EQ(GetFileAttributesW(MarkOf(extracted).c_str()), INVALID_FILE_ATTRIBUTES)
                << label;
            if (UnderWine()) {
                EXPECT_EQ(dir.Entries(), (std::vector<std::string>{name, name + ".exe"})) << label;
            }
        }
    }
}

}  // namespace
}  // namespace sfx

// Besides the tests: `driver --idle READY` keeps Wine's server and desktop up for a whole
// test run (started before the tests, so that none of Wine's own processes holds on to a
// test's output), writing the file READY once the desktop is there.
int main(int argc, char** argv) {
    if (argc == 3 && std::string(argv[1]) == "--idle") {
        HWND window = CreateWindowExA(0, "STATIC", "idle", 0, 0, 0, 1, 1, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
        if (window == nullptr)
            return 1;
        sfx::test::WriteBytes(argv[2], sfx::test::BytesOf("ready"));
        for (;;) Sleep(60000);
    }
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
