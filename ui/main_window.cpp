// Entry point, the hidden main window that owns the dialog, and the message loop.
#include <stdlib.h>

#include "platform/download_safety.h"
#include "platform/path_text.h"
#include "ui/extractor.h"
#include "ui/message_loop.h"
#include "ui/resource.h"
#include "ui/startup.h"

namespace sfx::ui {

char WindowTitle[TitleSize];
char WindowClassName[TitleSize];
HINSTANCE Instance;
HWND MainWindow;

void RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXA windowClass;
    windowClass.cbSize = sizeof windowClass;
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.cbClsExtra = 0;
    windowClass.cbWndExtra = 0;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(IDI_LARGE));
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszMenuName = nullptr;
    windowClass.lpszClassName = WindowClassName;
    windowClass.hIconSm = LoadIconA(instance, MAKEINTRESOURCEA(IDI_SMALL));
    RegisterClassExA(&windowClass);
}

bool CreateMainWindow(HINSTANCE instance, int) {
    Instance = instance;
    MainWindow =
        CreateWindowExA(0, WindowClassName, WindowTitle, WS_OVERLAPPEDWINDOW, CW_USEDEFAULT, 0,
                        CW_USEDEFAULT, 0, nullptr, nullptr, instance, nullptr);
    if (MainWindow == nullptr)
        return false;
    // A Unicode dialog, so that its fields hold any folder and file name.
    DialogBoxParamW(Instance, MAKEINTRESOURCEW(IDD_EXTRACT), MainWindow, ExtractDialogProc, 0);
    // The dialog destroys the main window when it ends; when it could not even be created,
    // nothing did, and the program would wait for a quit message that never comes.
    if (IsWindow(MainWindow))
        DestroyWindow(MainWindow);
    return true;
}

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_DESTROY:
            PostQuitMessage(0);
            return 0;
        case WM_COMMAND:
            if (LOWORD(wParam) == IDM_EXIT) {
                DestroyWindow(window);
                return 0;
            }
            break;
        default:
            break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace sfx::ui

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand) {
    using namespace sfx::ui;
    // Before anything loads a DLL: none from the program's folder.
    sfx::platform::RestrictDllSearch();
    LoadStringA(instance, IDS_WINDOW_TITLE, WindowTitle, TitleSize);
    lstrcpynA(WindowClassName, "BLOWFISH_durederoro", TitleSize);
    RegisterMainWindowClass(instance);

    // Paths are UTF-8 in this program: the ANSI form of a name outside the ANSI code page
    // has "?" in it and opens nothing.
    sfx::platform::UseUtf8Paths();
    char moduleFileName[OwnPathSize];
    wchar_t wideModule[MAX_PATH + 1];
    // A name that fills the buffer may have been cut short (Windows XP leaves it without NUL).
    const DWORD length = GetModuleFileNameW(nullptr, wideModule, MAX_PATH + 1);
    if (length == 0 || length > MAX_PATH)
        wideModule[0] = L'\0';
    wideModule[MAX_PATH] = L'\0';
    sfx::platform::NarrowPath(wideModule, moduleFileName, sizeof moduleFileName);
    char argument0[OwnPathSize];
    if (__argc < 1 || !sfx::platform::PathFromAnsi(__argv[0], argument0, sizeof argument0))
        argument0[0] = '\0';
    SelectOwnPath(argument0, moduleFileName);
    InitDefaultDestination();

    if (!CreateMainWindow(instance, showCommand))
        return 0;

    MSG message;
    return RunMessageLoop(
        message, [](MSG& next) { return static_cast<int>(GetMessageA(&next, nullptr, 0, 0)); },
        [](MSG& next) {
            if (!TranslateAcceleratorA(next.hwnd, nullptr, &next)) {
                TranslateMessage(&next);
                DispatchMessageA(&next);
            }
        });
}
