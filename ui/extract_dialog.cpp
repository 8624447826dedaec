// The extraction dialog: password, destination, riddle and the extraction itself.
#include <shlobj.h>

#include "engine/container.h"
#include "engine/job.h"
#include "ui/dialog_logic.h"
#include "ui/extractor.h"
#include "ui/resource.h"
#include "ui/startup.h"

namespace sfx::ui {

namespace {

constexpr char ErrorCaption[] = "Error!";

void EndExtractDialog(HWND dialog, INT_PTR result) {
    EndDialog(dialog, result);
    DestroyWindow(MainWindow);
}

void OpenDialog(HWND dialog) {
    SetDlgItemTextA(dialog, IDC_FILENAME, DestinationFileName);
    SetDlgItemTextA(dialog, IDC_FOLDER, DestinationFolder);
    static const int fields[] = {IDC_PASSWORD, IDC_FOLDER, IDC_FILENAME};
    for (int field : fields) SendDlgItemMessageA(dialog, field, EM_LIMITTEXT, TextSize - 1, 0);
    char work[WorkTextSize] = {};
    if (ReadDescription(OwnPath(), work))
        SetDlgItemTextA(dialog, IDC_DESCRIPTION, work);
}

void Browse(HWND dialog) {
    char displayName[MAX_PATH];
    BROWSEINFOA browse = {};
    browse.hwndOwner = dialog;
    browse.pidlRoot = nullptr;
    browse.pszDisplayName = displayName;
    browse.lpszTitle = "Browse for folder";
    browse.ulFlags = BIF_RETURNONLYFSDIRS;
    browse.lpfn = BrowseCallbackProc;
    browse.lParam = reinterpret_cast<LPARAM>(DestinationFolder);
    LPITEMIDLIST chosen = SHBrowseForFolderA(&browse);
    if (chosen != nullptr) {
        // The browser writes up to MAX_PATH characters: taken only when it fits the folder.
        char path[MAX_PATH] = {};
        if (SHGetPathFromIDListA(chosen, path))
            TakeBrowsedFolder(path, DestinationFolder);
        IMalloc* allocator = nullptr;
        if (SUCCEEDED(SHGetMalloc(&allocator))) {
            allocator->Free(chosen);
            allocator->Release();
        }
    }
    EnsureFinalSeparator(DestinationFolder);
    SetDlgItemTextA(dialog, IDC_FOLDER, DestinationFolder);
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
        while (PeekMessageA(&message, nullptr, range[0], range[1], PM_REMOVE | PM_NOYIELD)) {
        }
    }
}

// Reads a field into a TextSize text; false when the field holds more than the text takes.
bool ReadField(HWND dialog, int field, char* text) {
    GetDlgItemTextA(dialog, field, text, TextSize);
    return GetWindowTextLengthA(GetDlgItem(dialog, field)) < static_cast<int>(TextSize);
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
    bool extracted = false;
    // The wait cursor says that the dialog does not answer while the job runs.
    const HCURSOR previousCursor = SetCursor(LoadCursorA(nullptr, IDC_WAIT));
    if (destinationFits)
        extracted = job.Extract(OwnPath(), work, password);
    else
        job.status = WriteFailed;  // a destination cut short would be some other file
    SecureZeroMemory(password, sizeof password);
    DiscardQueuedInput();
    SetCursor(previousCursor);

    if (extracted) {
        SuccessMessage(DestinationFileName, message);
        MessageBoxA(nullptr, message, "Information", MB_ICONINFORMATION);
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
    if (message != WM_COMMAND)
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
        SendMessageA(browser, BFFM_SETSELECTIONA, TRUE, lpData);
    return 0;
}

}  // namespace sfx::ui
