// The drive-selection dialog. Start runs, in one pass on the UI thread, the
// whole start of an analysis: the chosen drive, the results background the
// first time, the statistics reset, the volume services, the scan thread, the
// refresh timer and the menu; then the instructions dialog.
#include "app/drivedlg.h"

#include <cstring>

#include "app/driveline.h"
#include "app/infodlg.h"
#include "app/kivifat.h"
#include "app/mainwnd.h"
#include "display/dib.h"
#include "display/panel.h"
#include "engine/scan.h"
#include "resource.h"
#include "volume/volume.h"

namespace {

// Set while a Start is being carried out, and after a start went through,
// until the dialog opens again: a Start that arrives through the nested
// message loops of a start (its message boxes, the instructions dialog), a
// double click included, starts nothing.
bool StartBusy;

// Replaces the intro picture by the results background, once per run.
bool ShowResultsBackground()
{
    IntroScreen = FALSE;
    if (hDIB != NULL)
        GlobalFree(hDIB);
    hDIB = NULL;
    if (hPal != NULL)
        DeleteObject(hPal);
    hPal = NULL;
    if (!ShowMainPicture("KivNT.bmp"))
        return false;
    UpdateWindow(hWndMain);
    return true;
}

// Everything of a start up to the running scan thread; false when the start
// is abandoned and the dialog stays open.
bool StartAnalysis(HWND hDlg)
{
    const LRESULT selected = SendDlgItemMessageA(hDlg, IDC_DRIVELIST, LB_GETCURSEL, 0, 0);
    if (selected == LB_ERR)
        return false;
    char line[DRIVE_LINE_SIZE];
    if (SendDlgItemMessageA(hDlg, IDC_DRIVELIST, LB_GETTEXT, (WPARAM)selected, (LPARAM)line) == LB_ERR)
        return false;
    cDrive[0] = line[0];
    cDrive[1] = line[1];
    cDrive[2] = 0;
    if (IntroScreen && !ShowResultsBackground())
        return false;
    ResetStats();
    // Nothing of the previous drive stays on the panel, whether this start
    // goes through or not.
    ClearPanel();
    if (!OpenVolume()) {
        ErrorBox("ERROR - KivDialogProc - IDC_START - OpenVolume");
        return false;
    }
    if (!KivNTInitialize())
        return false;
    GetDiskStats();
    if (!StartDirScanThread())
        return false;
    ScanActive = true;
    return true;
}

INT_PTR OnStart(HWND hDlg)
{
    if (StartBusy)
        return 0;
    StartBusy = true;
    if (!StartAnalysis(hDlg)) {
        StartBusy = false;
        return 0;
    }
    if (StartRefresh())
        Running = ANALYSIS_RUNNING;
    else
        ErrorBox("ERROR - KivDialogProc - IDC_START - SetTimer");
    // The scan may already have ended inside that message box; the menu then
    // shows the end command's stopped state.
    ShowAnalysisState();
    CloseDialog(hDlg, 0);
    RunDialog("Instruc", Instruc, "ERROR - KivDialogProc - IDC_START - DialogBox");
    UpdateWindow(hWndMain);
    return 1;
}

}  // namespace

void GetAvailableDrives(HWND hDlg, LPCSTR prefix)
{
    for (char letter = 'C'; letter <= 'Z'; letter++) {
        const char root[4] = {letter, ':', '\\', 0};
        if (GetDriveTypeA(root) != DRIVE_FIXED)
            continue;
        char label[32];
        char fileSystem[8];
        if (!GetVolumeInformationA(root, label, sizeof label, NULL, NULL, NULL, fileSystem, sizeof fileSystem))
            continue;
        if (strcmp(fileSystem, "FAT") != 0)
            continue;
        char className[16];
        char title[16];
        wsprintfA(className, "%s%s", prefix, fileSystem);
        wsprintfA(title, "%s%c:", className, letter);
        if (FindWindowA(className, title) != NULL)
            continue;
        char line[DRIVE_LINE_SIZE];
        BuildDriveLine(line, letter, label, fileSystem);
        SendDlgItemMessageA(hDlg, IDC_DRIVELIST, LB_ADDSTRING, 0, (LPARAM)line);
    }
}

INT_PTR CALLBACK KivDialogProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        StartBusy = false;
        GetAvailableDrives(hDlg, "KIV");
        SendDlgItemMessageA(hDlg, IDC_DRIVELIST, LB_SETCURSEL, 0, 0);
        // The list has the focus, so that the arrow keys choose a drive.
        SetFocus(GetDlgItem(hDlg, IDC_DRIVELIST));
        return 0;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDC_START:
            return OnStart(hDlg);
        case IDC_DRIVELIST:
            // A double click on a drive's line starts it, as Start does.
            return HIWORD(wParam) == LBN_DBLCLK ? OnStart(hDlg) : 0;
        case IDCANCEL:
            CloseDialog(hDlg, 0);
            return 1;
        }
        return 0;
    }
    return 0;
}
