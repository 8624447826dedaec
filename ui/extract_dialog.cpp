// The extraction dialog: password, destination, riddle and the extraction itself.
//
// The dialog is a Unicode window: the folder and file-name fields and the folder browser
// hold any name the file system can store, taken into the program's UTF-8 paths at this
// edge. The password, the riddle and the description stay the single-byte ANSI texts that
// the files store, so a file opens with the same password whatever its folder is called.
#include <shlobj.h>

#include "engine/container.h"
#include "engine/job.h"
#include "platform/bytes.h"
#include "platform/path_text.h"
#include "ui/dialog_logic.h"
#include "ui/extractor.h"
#include "ui/resource.h"
#include "ui/startup.h"

namespace sfx::ui {

namespace {

constexpr char ErrorCaption[] = "Error!";

// True while a job runs inside the "GO!" handler. Messages sent from other threads are
// delivered whenever the job looks at the queue; no command may start a second job then.
bool extracting = false;

void EndExtractDialog(HWND dialog, INT_PTR result) {
    EndDialog(dialog, result);
    DestroyWindow(MainWindow);
}

// Shows a UTF-8 path in a field.
void SetPathField(HWND dialog, int field, const char* path) {
    wchar_t wide[TextSize];
    platform::WidenPath(path, wide, TextSize);
    SetDlgItemTextW(dialog, field, wide);
}

// Owned by the hidden main window, the dialog would have no taskbar button: a user who
// switches away to look for the password could come back only through Alt+Tab. Set while
// the dialog is still hidden, so that the taskbar takes it when the dialog shows.
void ShowOnTaskbar(HWND dialog) {
    SetWindowLongPtrW(dialog, GWL_EXSTYLE,
                      GetWindowLongPtrW(dialog, GWL_EXSTYLE) | WS_EX_APPWINDOW);
    const HICON largeIcon = LoadIconW(Instance, MAKEINTRESOURCEW(IDI_LARGE));
    const HICON smallIcon = static_cast<HICON>(
        LoadImageW(Instance, MAKEINTRESOURCEW(IDI_SMALL), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                   GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    SendMessageW(dialog, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(largeIcon));
    SendMessageW(dialog, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(smallIcon));
}

void OpenDialog(HWND dialog) {
    ShowOnTaskbar(dialog);
    SetPathField(dialog, IDC_FILENAME, DestinationFileName);
    SetPathField(dialog, IDC_FOLDER, DestinationFolder);
    static const int fields[] = {IDC_PASSWORD, IDC_FOLDER, IDC_FILENAME};
    for (int field : fields) SendDlgItemMessageW(dialog, field, EM_LIMITTEXT, TextCharacters, 0);
    char work[WorkTextSize] = {};
    if (ReadDescription(OwnPath(), work))
        SetDlgItemTextA(dialog, IDC_DESCRIPTION, work);
}

// The shell's folder browser needs COM, in an apartment of this thread, before its first use.
void InitializeComOnce() {
    static bool initialized = false;
    if (!initialized)
        initialized = SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
}

void Browse(HWND dialog) {
    InitializeComOnce();
    wchar_t displayName[MAX_PATH];
    wchar_t start[TextSize];
    platform::WidenPath(DestinationFolder, start, TextSize);
    BROWSEINFOW browse = {};
    browse.hwndOwner = dialog;
    browse.pidlRoot = nullptr;
    browse.pszDisplayName = displayName;
    browse.lpszTitle = L"Browse for folder";
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    browse.lpfn = BrowseCallbackProc;
    browse.lParam = reinterpret_cast<LPARAM>(start);
    LPITEMIDLIST chosen = SHBrowseForFolderW(&browse);
    if (chosen != nullptr) {
        // The browser writes up to MAX_PATH characters: taken only when it fits the folder.
        wchar_t path[MAX_PATH] = {};
        char narrow[WorkTextSize];
        if (SHGetPathFromIDListW(chosen, path) && platform::NarrowPath(path, narrow, sizeof narrow))
            TakeBrowsedFolder(narrow, DestinationFolder);
        IMalloc* allocator = nullptr;
        if (SUCCEEDED(SHGetMalloc(&allocator))) {
            allocator->Free(chosen);
            allocator->Release();
        }
    }
    EnsureFinalSeparator(DestinationFolder);
    SetPathField(dialog, IDC_FOLDER, DestinationFolder);
}

// The extraction runs inside the "GO!" handler and nothing is dispatched meanwhile, so
// whatever the user clicks or types then waits in the queue. It is dropped before the
// outcome's box: otherwise that box's own message loop would deliver it, and a second
// "GO!" would run the extraction again or "Cancel" would end the program behind the box.
void DiscardQueuedInput() {
    static const UINT ranges[][2] = {
        {WM_KEYFIRST, WM_KEYLAST},
        {WM_MOUSEFIRST, WM_MOUSELAST},
        {WM_NCMOUSEMOVE, WM_NCXBUTTONDBLCLK},  // the caption and the close box
    };
    MSG message;
    for (const auto& range : ranges) {
        while (PeekMessageW(&message, nullptr, range[0], range[1], PM_REMOVE | PM_NOYIELD)) {
        }
    }
}

// Windows marks a window that has not looked at its queue for 5 seconds as not responding
// and offers to end the program, which would leave the job's files behind. The job's
// progress slots look at the queue, at most every 100 ms, without taking anything out of it:
// nothing is dispatched and no handler runs again meanwhile.
void KeepResponding(std::int32_t, std::int32_t) {
    static DWORD lastLook = 0;
    const DWORD now = GetTickCount();
    if (now - lastLook < 100)
        return;
    lastLook = now;
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_NOYIELD);
}

// Reads a path field into a TextSize text (UTF-8); false when the field holds more than
// TextCharacters characters, or a name no path can hold.
bool ReadField(HWND dialog, int field, char* text) {
    wchar_t wide[TextCharacters + 1];
    GetDlgItemTextW(dialog, field, wide, TextCharacters + 1);
    const bool converted = platform::NarrowPath(wide, text, TextSize);
    return converted &&
           GetWindowTextLengthW(GetDlgItem(dialog, field)) <= static_cast<int>(TextCharacters);
}

// A message box with a UTF-8 text (a file name in it).
void ShowBox(const char* text, const char* caption, UINT icon) {
    wchar_t wide[MessageTextSize];
    wchar_t wideCaption[32];
    platform::WidenPath(text, wide, MessageTextSize);
    platform::WidenPath(caption, wideCaption, 32);
    MessageBoxW(nullptr, wide, wideCaption, icon);
}

bool Extract(HWND dialog) {
    const bool nameFits = ReadField(dialog, IDC_FILENAME, DestinationFileName);
    const bool folderFits = ReadField(dialog, IDC_FOLDER, DestinationFolder);
    char work[WorkTextSize] = {};
    const bool destinationFits =
        JoinDestination(DestinationFolder, DestinationFileName, work, sizeof work) && nameFits &&
        folderFits;

    char password[TextSize] = {};
    GetDlgItemTextA(dialog, IDC_PASSWORD, password, sizeof password);
    if (password[0] == '\0') {
        MessageBoxA(nullptr, EmptyPasswordMessage, ErrorCaption, MB_ICONERROR);
        return false;
    }

    char message[MessageTextSize] = {};
    ExtractionJob job;
    job.SetDecryptProgress(KeepResponding);
    job.SetLzwProgress(KeepResponding);
    bool extracted = false;
    // The wait cursor says that the dialog does not answer while the job runs.
    const HCURSOR previousCursor = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    extracting = true;
    if (destinationFits)
        extracted = job.Extract(OwnPath(), work, password);
    else
        job.status = WriteFailed;  // a destination cut short would be some other file
    extracting = false;
    Wipe(password, sizeof password);
    DiscardQueuedInput();
    SetCursor(previousCursor);

    if (extracted) {
        SuccessMessage(DestinationFileName, message);
        ShowBox(message, "Information", MB_ICONINFORMATION);
        EndExtractDialog(dialog, IDC_GO);
        return true;
    }
    lstrcpynA(message, FailureMessage(job.status), sizeof message);
    MessageBoxA(nullptr, message, ErrorCaption, MB_ICONERROR);
    return false;
}

void ShowRiddle() {
    char work[WorkTextSize] = {};
    ExtractionJob job;
    job.ReadRiddle(OwnPath(), work, nullptr);
    MessageBoxA(nullptr, work, "Riddle for password", MB_ICONINFORMATION);
}

}  // namespace

INT_PTR CALLBACK ExtractDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_INITDIALOG) {
        OpenDialog(dialog);
        return TRUE;
    }
    if (message != WM_COMMAND || extracting)
        return FALSE;
    switch (LOWORD(wParam)) {
        case IDOK:
        case IDCANCEL:
            EndExtractDialog(dialog, LOWORD(wParam));
            return TRUE;
        case IDC_BROWSE:
            Browse(dialog);
            return FALSE;
        case IDC_GO:
            return Extract(dialog) ? TRUE : FALSE;
        case IDC_RIDDLE:
            ShowRiddle();
            return TRUE;
        default:
            return FALSE;
    }
}

int CALLBACK BrowseCallbackProc(HWND browser, UINT message, LPARAM, LPARAM lpData) {
    if (message == BFFM_INITIALIZED)
        SendMessageW(browser, BFFM_SETSELECTIONW, TRUE, lpData);
    return 0;
}

}  // namespace sfx::ui
