// The main window: the program's entry, its window class, and the window
// procedure that carries the menu commands, the refresh timer and the end of
// an analysis; the analysis state the menu shows, and the program's dialogs.
#pragma once

#include "platform/win32.h"

extern HINSTANCE hInst;   // the program's module, for resources and dialogs
extern HMENU hMenu;       // the main window's menu

// True from the start of a scan thread until its KIV_END has been handled:
// no new analysis may start meanwhile, whatever Running says.
extern bool ScanActive;

// Loads `file` as the main window's picture, sizes the window to it (picture
// width + 2 by height + 40) and realises its palette; false when the picture
// cannot be loaded or the window not sized.
bool ShowMainPicture(LPCSTR file);

// Sets every menu item from the analysis state (Running and ScanActive):
// Select Disk while no scan is under way, Pause while one runs, Continue
// while one is paused; the information items always.
void ShowAnalysisState();

// Arms the main window's refresh timer (a tick every 200 ms); false when it
// cannot be armed.
bool StartRefresh();

// Runs the modal dialog `name` with `procedure`, owned by the innermost
// dialog of the program that is open (or the main window), so that closing
// it enables nothing beneath that dialog; the dialog is kept within the
// screen's work area. Shows `failure` when it cannot be created.
void RunDialog(LPCSTR name, DLGPROC procedure, LPCSTR failure);

// Ends a dialog run by RunDialog with `result`; from then on it owns no new dialog.
void CloseDialog(HWND hDlg, INT_PTR result);

// True while a dialog of the program is open.
bool DialogOpen();

BOOL InitApplication(HINSTANCE hInstance);
BOOL InitInstance(HINSTANCE hInstance, int nCmdShow);
LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
