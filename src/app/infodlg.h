// The information dialogs: the About box, and the two picture dialogs (the
// instructions and the promotion of Quellix), which show a picture read from
// its file each time they open.
#pragma once

#include "platform/win32.h"

// True while a promotion dialog that completed its initialisation is open.
extern bool PromoScreen;

INT_PTR CALLBACK About(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK Instruc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK Promo(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
