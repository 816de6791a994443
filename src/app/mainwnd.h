// The main window: the program's entry, its window class, and the window
// procedure that carries the menu commands, the refresh timer and the end of
// an analysis.
#pragma once

#include "platform/win32.h"

extern HINSTANCE hInst;   // the program's module, for resources and dialogs
extern HMENU hMenu;       // the main window's menu

// Loads `file` as the main window's picture, sizes the window to it (picture
// width + 2 by height + 40) and realises its palette; false when the picture
// cannot be loaded or the window not sized.
bool ShowMainPicture(LPCSTR file);

BOOL InitApplication(HINSTANCE hInstance);
BOOL InitInstance(HINSTANCE hInstance, int nCmdShow);
LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
