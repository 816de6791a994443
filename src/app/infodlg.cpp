// The About box and the two picture dialogs. A picture dialog loads its
// picture through the main window's hDIB (parking the main picture and palette
// meanwhile), takes over the palette the main window held and gives the main
// window a fresh one, paints its picture through the palette it took, and
// releases both when it closes.
#include "app/infodlg.h"

#include "app/kivifat.h"
#include "app/mainwnd.h"
#include "display/dib.h"

bool PromoScreen;
HGLOBAL hInstruc;
HPALETTE hPalInstruc;
HGLOBAL hPromo;
HPALETTE hPalPromo;

namespace {

// What tells the two picture dialogs apart.
struct PictureDialog {
    LPCSTR file;
    HGLOBAL *picture;
    HPALETTE *palette;
    LPCSTR paintFailure;
    bool promotion;   // sets PromoScreen
    bool open;        // a dialog of this kind is open
};

PictureDialog instrucDialog = {"Instruc.Bmp", &hInstruc, &hPalInstruc,
                               "ERROR - Instruc - WM_PAINT - GlobalLock", false, false};
PictureDialog promoDialog = {"Promo.Bmp", &hPromo, &hPalPromo, "ERROR - Promo - WM_PAINT - GlobalLock", true,
                             false};

// OK, Enter and Escape (the cancel command) close the information dialogs.
bool IsCloseCommand(WPARAM wParam)
{
    return LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL;
}

INT_PTR OnInit(PictureDialog &dialog, HWND hDlg)
{
    // Only one dialog of a kind holds the picture and palette variables: a
    // second one (a promotion at the end of an analysis while one whose
    // initialisation stopped early is open) closes at once.
    if (dialog.open) {
        CloseDialog(hDlg, 1);
        return FALSE;
    }
    dialog.open = true;
    // Parked in this call's own variables: a message box of the loader runs a
    // message loop in which another picture dialog may park the same handles.
    const HGLOBAL hSave = hDIB;
    const HPALETTE hPalSave = hPal;
    DWORD width, height;
    if (!GetBitmap(dialog.file, &width, &height)) {
        hDIB = hSave;
        hPal = hPalSave;
        return FALSE;
    }
    *dialog.picture = hDIB;
    *dialog.palette = hPal;
    hDIB = hSave;
    hPal = hPalSave;
    const BOOL sized = SetWindowPos(hDlg, NULL, 0, 0, (int)width + 2, (int)height + 43, SWP_NOMOVE | SWP_NOZORDER);
    // The hand-over completes even when sizing failed, so that the palette the
    // dialog deletes is never the one the main window still uses.
    UpdateSystemPalette(hDlg);
    if (!sized)
        return FALSE;
    UpdateWindow(hDlg);
    if (dialog.promotion)
        PromoScreen = true;
    return TRUE;
}

void OnPaint(PictureDialog &dialog, HWND hDlg)
{
    PAINTSTRUCT ps;
    BeginPaint(hDlg, &ps);
    if (*dialog.picture != NULL && ps.hdc != NULL) {
        const BYTE *picture = (const BYTE *)GlobalLock(*dialog.picture);
        if (picture == NULL) {
            MessageBoxA(hDlg, dialog.paintFailure, szAppName, MB_OK);
        } else {
            DIBBlt(ps.hdc, *dialog.palette, 0, 0, 0, 0, picture + BITMAP_HEADER_OFFSET, 0, 0, SRCCOPY);
            GlobalUnlock(*dialog.picture);
        }
    }
    EndPaint(hDlg, &ps);
}

void OnClose(PictureDialog &dialog, HWND hDlg)
{
    CloseDialog(hDlg, 1);
    if (*dialog.picture != NULL)
        GlobalFree(*dialog.picture);
    if (*dialog.palette != NULL)
        DeleteObject(*dialog.palette);
    *dialog.picture = NULL;
    *dialog.palette = NULL;
    dialog.open = false;
    if (dialog.promotion)
        PromoScreen = false;
}

INT_PTR PictureDialogProc(PictureDialog &dialog, HWND hDlg, UINT message, WPARAM wParam)
{
    switch (message) {
    case WM_INITDIALOG:
        return OnInit(dialog, hDlg);
    case WM_PAINT:
        OnPaint(dialog, hDlg);
        return FALSE;
    case WM_COMMAND:
        if (!IsCloseCommand(wParam))
            return FALSE;
        OnClose(dialog, hDlg);
        return TRUE;
    case WM_CLOSE:
        OnClose(dialog, hDlg);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

INT_PTR CALLBACK About(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        return TRUE;
    case WM_COMMAND:
        if (!IsCloseCommand(wParam))
            return FALSE;
        CloseDialog(hDlg, 1);
        return TRUE;
    case WM_CLOSE:
        CloseDialog(hDlg, 1);
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK Instruc(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    return PictureDialogProc(instrucDialog, hDlg, message, wParam);
}

INT_PTR CALLBACK Promo(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    return PictureDialogProc(promoDialog, hDlg, message, wParam);
}
