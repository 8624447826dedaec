// The Windows extractor: entry point, hidden main window and extraction dialog.
#pragma once

#include <windows.h>

namespace sfx::ui {

inline constexpr int TitleSize = 100;

extern char WindowTitle[TitleSize];
extern char WindowClassName[TitleSize];
extern HINSTANCE Instance;
extern HWND MainWindow;

void RegisterMainWindowClass(HINSTANCE instance);
bool CreateMainWindow(HINSTANCE instance, int showCommand);
LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

INT_PTR CALLBACK ExtractDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
int CALLBACK BrowseCallbackProc(HWND browser, UINT message, LPARAM lParam, LPARAM lpData);

}  // namespace sfx::ui
