// The drive-selection dialog, which lists the fixed FAT drives and starts an
// analysis of the chosen one.
#pragma once

#include "platform/win32.h"

// Adds a line to the dialog's drive list for every fixed drive from C to Z
// whose file system is exactly "FAT" and that no window of class
// <prefix><file system> titled <class><letter>: hides.
void GetAvailableDrives(HWND hDlg, LPCSTR prefix);

INT_PTR CALLBACK KivDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
