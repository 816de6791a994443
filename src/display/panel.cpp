// The results panel of the main window. UpdateDiskStats (declared with the
// volume services that call it) and UpdateFileStats draw with the stock fixed
// font in dark blue on light grey; KivNT is the periodic refresh under the
// shared mutex; PaintClient the full repaint.
#include "display/panel.h"

#include "app/kivifat.h"
#include "display/dib.h"
#include "display/fields.h"
#include "engine/scan.h"
#include "volume/volume.h"

namespace {

// True once UpdateDiskStats has drawn the disk statistics of the drive being
// analysed; false from the start of an analysis until then, so that a repaint
// never shows one drive's values beside another drive's letter.
bool DiskStatsShown;

const COLORREF ValueColour = RGB(0, 0, 0x60);
const COLORREF CurrentFileColour = RGB(0, 0, 0xBE);
const COLORREF FieldGround = RGB(0xC0, 0xC0, 0xC0);

void SetTextAttributes(HDC hdc)
{
    SelectObject(hdc, GetStockObject(ANSI_FIXED_FONT));
    SetTextColor(hdc, ValueColour);
    SetBkMode(hdc, OPAQUE);
    SetBkColor(hdc, FieldGround);
}

void DrawNumber(HDC hdc, int y, ULONGLONG value)
{
    TextOutA(hdc, 234, y, cString, NumberField(cString, value));
}

// The drive, and its disk statistics once they are its own.
void DrawDiskStats(HDC hdc)
{
    SetTextAttributes(hdc);
    TextOutA(hdc, 318, 47, cDrive, lstrlenA(cDrive));
    if (!DiskStatsShown)
        return;
    DrawNumber(hdc, 106, TotalSpace / 1000);
    DrawNumber(hdc, 126, FreeSpace);
    DrawNumber(hdc, 146, ClusterSize);
}

}  // namespace

void UpdateDiskStats(HDC hdc)
{
    DiskStatsShown = true;
    DrawDiskStats(hdc);
}

void ClearPanel()
{
    DiskStatsShown = false;
    RedrawWindow(hWndMain, NULL, NULL, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW);
}

void UpdateFileStats(HDC hdc)
{
    if (TotalSpace == 0 || TotalFiles == 0)
        return;
    SetTextAttributes(hdc);
    DrawNumber(hdc, 186, TotalFiles + ZeroLengthFileCount);
    DrawNumber(hdc, 206, TotalFilesSize / 1000);
    DrawNumber(hdc, 226, TotalFilesSize * 100 / TotalSpace);
    // A flag is taken before its value is drawn, so a change made meanwhile
    // is drawn at the next refresh.
    if (TotalFragChanged.exchange(false))
        DrawNumber(hdc, 264, TotalFragFiles);
    if (TotalExtentsChanged.exchange(false))
        DrawNumber(hdc, 284, TotalExtents);
    TextOutA(hdc, 234, 304, cString, AverageField(cString, TotalExtents, TotalFiles));
    if (LargestFileChanged.exchange(false)) {
        DrawNumber(hdc, 342, LargestFileSize / 1000);
        DisplayFile(hdc, LargestFileName, 28, 364);
    }
    if (SmallestFileChanged.exchange(false)) {
        DrawNumber(hdc, 386, SmallestFileSize);
        DisplayFile(hdc, SmallestFileName, 28, 407);
    }
    if (MaxExtentsChanged.exchange(false)) {
        DrawNumber(hdc, 428, MaxExtents);
        DisplayFile(hdc, MaxExtentsFileName, 28, 450);
    }
    SetTextColor(hdc, CurrentFileColour);
    DisplayFile(hdc, cFileName, 28, 485);
}

void DisplayFile(HDC hdc, LPCSTR text, int x, int y)
{
    char field[PATH_FIELD];
    PathField(text, field);
    TextOutA(hdc, x, y, field, PATH_FIELD);
}

void KivNT()
{
    const DWORD wait = WaitForSingleObject(hMutex, MUTEX_WAIT);
    if (wait != WAIT_OBJECT_0) {
        ErrorHandling("Error number %ld occured during QXfat - KivNT - WaitForSingleObject.");
        // An abandoned mutex is ours now; keeping it would stall every later scan.
        if (wait == WAIT_ABANDONED)
            ReleaseMutex(hMutex);
        return;
    }
    HDC hdc = GetDC(hWndMain);
    UpdateFileStats(hdc);
    ReleaseDC(hWndMain, hdc);
    if (!ReleaseMutex(hMutex))
        ErrorHandling("Error number %ld occured during QXfat - KivNT - ReleaseMutex.");
}

void SetAllChanged()
{
    TotalExtentsChanged = true;
    LargestFileChanged = true;
    SmallestFileChanged = true;
    MaxExtentsChanged = true;
    TotalFragChanged = true;
}

void PaintClient(HWND hwnd)
{
    PAINTSTRUCT ps;
    BeginPaint(hwnd, &ps);
    if (hDIB != NULL && ps.hdc != NULL) {
        const BYTE *picture = (const BYTE *)GlobalLock(hDIB);
        if (picture == NULL) {
            MessageBoxA(hwnd, "ERROR - PaintClient - GlobalLock", szAppName, MB_OK);
            EndPaint(hwnd, &ps);
            return;
        }
        DIBBlt(ps.hdc, hPal, 0, 0, 0, 0, picture + BITMAP_HEADER_OFFSET, 0, 0, SRCCOPY);
        GlobalUnlock(hDIB);
    }
    if (!IntroScreen) {
        SetAllChanged();
        DrawDiskStats(ps.hdc);
        UpdateFileStats(ps.hdc);
    }
    EndPaint(hwnd, &ps);
}
