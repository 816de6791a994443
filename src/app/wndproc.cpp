// The main window's procedure. WndProc only dispatches; each message and each
// command has its own handler.
#include <cstring>

#include "app/drivedlg.h"
#include "app/infodlg.h"
#include "app/kivifat.h"
#include "app/mainwnd.h"
#include "display/panel.h"
#include "resource.h"

HMENU hMenu;

namespace {

const UINT RefreshTimer = 1;
const UINT RefreshPeriod = 200;

void EnableCommand(UINT command, bool enabled)
{
    EnableMenuItem(hMenu, command, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

// Runs a modal dialog owned by the main window; shows `failure` when it
// cannot be created.
void RunDialog(HWND hwnd, LPCSTR name, DLGPROC procedure, LPCSTR failure)
{
    if (DialogBoxParamA(hInst, name, hwnd, procedure, 0) == -1)
        ErrorBox(failure);
}

LRESULT OnCreate(HWND hwnd)
{
    hWndMain = hwnd;
    hMenu = GetMenu(hwnd);
    EnableCommand(KIV_PAUSE, false);
    EnableCommand(KIV_CONTINUE, false);
    hMutex = CreateMutexA(NULL, FALSE, "MutexForCommonData");
    if (hMutex == NULL)
        ErrorHandling("Error number %ld occured during WndProc - WM_CREATE - CreateMutex.");
    Running = ANALYSIS_STOPPED;
    return 0;
}

LRESULT OnTimer(HWND hwnd)
{
    // Stopped while refreshing, so that no refresh can start before the
    // previous one has finished.
    KillTimer(hwnd, RefreshTimer);
    if (Running == ANALYSIS_RUNNING)
        KivNT();
    if (SetTimer(hwnd, RefreshTimer, RefreshPeriod, NULL) == 0) {
        ErrorBox("ERROR - WndProc - WM_TIMER - SetTimer");
        Running = ANALYSIS_STOPPED;
    }
    return 0;
}

void OnPause()
{
    EnableCommand(KIV_PAUSE, false);
    EnableCommand(KIV_CONTINUE, true);
    if (Running == ANALYSIS_RUNNING)
        Running = ANALYSIS_PAUSED;
}

void OnContinue()
{
    EnableCommand(KIV_CONTINUE, false);
    EnableCommand(KIV_PAUSE, true);
    if (Running == ANALYSIS_PAUSED)
        Running = ANALYSIS_RUNNING;
}

// Tells the maker's other product, if it runs, which drive was analysed.
void OnExit(HWND hwnd)
{
    HWND quellix = FindWindowA("Quellix", "Quellix Control Center");
    if (quellix != NULL && !PostMessageA(quellix, WM_COMMAND, KIV_NOTIFY_DRIVE, (LPARAM)(BYTE)cDrive[0]))
        ErrorHandling("Error number %ld occured during WndProc - KIV_EXIT - PostMessage.");
    DestroyWindow(hwnd);
}

// Opens the drive selection, unless an analysis is under way.
void OnStart(HWND hwnd)
{
    if (Running == ANALYSIS_STOPPED && !ScanActive)
        RunDialog(hwnd, "OPENVOLUME", KivDialogProc, "ERROR - WndProc - KIV_START - DialogBox");
}

void OnEnd(HWND hwnd)
{
    ScanActive = false;
    EnableCommand(KIV_START, true);
    EnableCommand(KIV_PAUSE, false);
    EnableCommand(KIV_CONTINUE, false);
    KillTimer(hwnd, RefreshTimer);
    Running = ANALYSIS_STOPPED;
    strcpy(cFileName, "    FRAGMENTATION ANALYSIS COMPLETED    ");
    if (!PromoScreen)
        RunDialog(hwnd, "Promo", Promo, "ERROR - WndProc - KIV_END - DialogBox");
    // A repaint may have cleared a flag the scan set at that very moment;
    // the final panel draws every value.
    SetAllChanged();
    KivNT();
}

LRESULT OnCommand(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case KIV_START:
        OnStart(hwnd);
        return 0;
    case KIV_PAUSE:
        OnPause();
        return 0;
    case KIV_CONTINUE:
        OnContinue();
        return 0;
    case KIV_EXIT:
        OnExit(hwnd);
        return 0;
    case KIV_ABOUT:
        RunDialog(hwnd, "AboutBox", About, "ERROR - WndProc - KIV_ABOUT - DialogBox");
        return 0;
    case KIV_ORDER:
        RunDialog(hwnd, "Promo", Promo, "ERROR - WndProc - KIV_ORDER - DialogBox");
        return 0;
    case KIV_INSTRUC:
        RunDialog(hwnd, "Instruc", Instruc, "ERROR - WndProc - KIV_INSTRUC - DialogBox");
        return 0;
    case KIV_END:
        OnEnd(hwnd);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

LRESULT CALLBACK WndProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return OnCreate(hwnd);
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
    case WM_ERASEBKGND:
        PaintClient(hwnd);
        return 0;
    case WM_COMMAND:
        return OnCommand(hwnd, message, wParam, lParam);
    case WM_TIMER:
        return OnTimer(hwnd);
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}
