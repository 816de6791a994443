// The main window's procedure. WndProc only dispatches; each message and each
// command has its own handler. Here too: the menu as the analysis state
// gives it, the refresh timer, and the runner of every dialog of the program.
#include <algorithm>
#include <cstring>
#include <vector>

#include "app/drivedlg.h"
#include "app/infodlg.h"
#include "app/kivifat.h"
#include "app/mainwnd.h"
#include "display/panel.h"
#include "resource.h"

HMENU hMenu;
bool ScanActive;

namespace {

const UINT RefreshTimer = 1;
const UINT RefreshPeriod = 200;   // ms

// The program's dialogs that are open and not yet ended, oldest first.
std::vector<HWND> openDialogs;

void EnableCommand(UINT command, bool enabled)
{
    EnableMenuItem(hMenu, command, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
}

void Forget(HWND hDlg)
{
    openDialogs.erase(std::remove(openDialogs.begin(), openDialogs.end(), hDlg), openDialogs.end());
}

// Moves a dialog that reaches past an edge of its screen's work area back
// inside it (to its top-left corner when it is larger than the area).
void KeepInWorkArea(HWND hDlg)
{
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof monitor;
    RECT r;
    if (!GetMonitorInfoA(MonitorFromWindow(hDlg, MONITOR_DEFAULTTONEAREST), &monitor) || !GetWindowRect(hDlg, &r))
        return;
    const RECT &area = monitor.rcWork;
    LONG x = r.left, y = r.top;
    if (x + (r.right - r.left) > area.right)
        x = area.right - (r.right - r.left);
    if (y + (r.bottom - r.top) > area.bottom)
        y = area.bottom - (r.bottom - r.top);
    x = x < area.left ? area.left : x;
    y = y < area.top ? area.top : y;
    if (x != r.left || y != r.top)
        SetWindowPos(hDlg, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

// The procedure of every dialog run by RunDialog: it keeps the list of open
// dialogs and places the dialog once its own procedure, which it calls for
// every message, has sized it.
INT_PTR CALLBACK TrackedDialog(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        const DLGPROC procedure = (DLGPROC)lParam;
        SetWindowLongPtrA(hDlg, DWLP_USER, (LONG_PTR)procedure);
        openDialogs.push_back(hDlg);
        const INT_PTR result = procedure(hDlg, message, wParam, 0);
        KeepInWorkArea(hDlg);
        return result;
    }
    if (message == WM_DESTROY)
        Forget(hDlg);
    const DLGPROC procedure = (DLGPROC)GetWindowLongPtrA(hDlg, DWLP_USER);
    return procedure != NULL ? procedure(hDlg, message, wParam, lParam) : FALSE;
}

LRESULT OnCreate(HWND hwnd)
{
    hWndMain = hwnd;
    hMenu = GetMenu(hwnd);
    hMutex = CreateMutexA(NULL, FALSE, "MutexForCommonData");
    if (hMutex == NULL)
        ErrorHandling("Error number %ld occured during WndProc - WM_CREATE - CreateMutex.");
    Running = ANALYSIS_STOPPED;
    ShowAnalysisState();
    return 0;
}

LRESULT OnTimer(HWND hwnd)
{
    // Stopped while refreshing, so that no refresh can start before the
    // previous one has finished.
    KillTimer(hwnd, RefreshTimer);
    if (Running == ANALYSIS_RUNNING)
        KivNT();
    if (!StartRefresh()) {
        ErrorBox("ERROR - WndProc - WM_TIMER - SetTimer");
        Running = ANALYSIS_STOPPED;
        ShowAnalysisState();
    }
    return 0;
}

void OnPause()
{
    if (Running == ANALYSIS_RUNNING)
        Running = ANALYSIS_PAUSED;
    ShowAnalysisState();
}

void OnContinue()
{
    if (Running == ANALYSIS_PAUSED)
        Running = ANALYSIS_RUNNING;
    ShowAnalysisState();
}

// Tells the maker's other product, if it runs, which drive was analysed.
void OnExit(HWND hwnd)
{
    HWND quellix = FindWindowA("Quellix", "Quellix Control Center");
    if (quellix != NULL && !PostMessageA(quellix, WM_COMMAND, KIV_NOTIFY_DRIVE, (LPARAM)(BYTE)cDrive[0]))
        ErrorHandling("Error number %ld occured during WndProc - KIV_EXIT - PostMessage.");
    DestroyWindow(hwnd);
}

// Opens the drive selection, unless an analysis is under way or a dialog of
// the program is open (a start from inside another's dialog).
void OnStart()
{
    if (Running == ANALYSIS_STOPPED && !ScanActive && !DialogOpen())
        RunDialog("OPENVOLUME", KivDialogProc, "ERROR - WndProc - KIV_START - DialogBox");
}

// The promotion may open while the instructions dialog is open: it is then
// owned by that dialog (RunDialog).
void OnEnd(HWND hwnd)
{
    ScanActive = false;
    KillTimer(hwnd, RefreshTimer);
    Running = ANALYSIS_STOPPED;
    ShowAnalysisState();
    strcpy(cFileName, "    FRAGMENTATION ANALYSIS COMPLETED    ");
    if (!PromoScreen)
        RunDialog("Promo", Promo, "ERROR - WndProc - KIV_END - DialogBox");
    // A repaint may have cleared a flag the scan set at that very moment;
    // the final panel draws every value.
    SetAllChanged();
    KivNT();
}

LRESULT OnCommand(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (LOWORD(wParam)) {
    case KIV_START:
        OnStart();
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
        RunDialog("AboutBox", About, "ERROR - WndProc - KIV_ABOUT - DialogBox");
        return 0;
    case KIV_ORDER:
        RunDialog("Promo", Promo, "ERROR - WndProc - KIV_ORDER - DialogBox");
        return 0;
    case KIV_INSTRUC:
        RunDialog("Instruc", Instruc, "ERROR - WndProc - KIV_INSTRUC - DialogBox");
        return 0;
    case KIV_END:
        OnEnd(hwnd);
        return 0;
    }
    return DefWindowProcA(hwnd, message, wParam, lParam);
}

}  // namespace

void ShowAnalysisState()
{
    EnableCommand(KIV_START, !ScanActive && Running == ANALYSIS_STOPPED);
    EnableCommand(KIV_PAUSE, ScanActive && Running == ANALYSIS_RUNNING);
    EnableCommand(KIV_CONTINUE, ScanActive && Running == ANALYSIS_PAUSED);
}

bool StartRefresh()
{
    return SetTimer(hWndMain, RefreshTimer, RefreshPeriod, NULL) != 0;
}

void RunDialog(LPCSTR name, DLGPROC procedure, LPCSTR failure)
{
    HWND owner = openDialogs.empty() ? hWndMain : openDialogs.back();
    if (DialogBoxParamA(hInst, name, owner, TrackedDialog, (LPARAM)procedure) == -1)
        ErrorBox(failure);
}

void CloseDialog(HWND hDlg, INT_PTR result)
{
    Forget(hDlg);
    EndDialog(hDlg, result);
}

bool DialogOpen()
{
    return !openDialogs.empty();
}

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
