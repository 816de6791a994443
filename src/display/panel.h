// The results panel: the disk and scan statistics drawn as text over the
// background picture of the main window, at fixed positions.
#pragma once

#include "platform/win32.h"

// Draws the scan statistics and the current file (nothing before the first
// measured file); flagged values only when their change flag is set.
void UpdateFileStats(HDC hdc);

// Starts the panel of a new analysis: repaints the window at once with
// cDrive alone, its disk statistics left out until UpdateDiskStats draws them
// and the scan statistics until the scan measures a file.
void ClearPanel();

// Draws `text` in a 41-character field at (x, y).
void DisplayFile(HDC hdc, LPCSTR text, int x, int y);

// Asks for every flagged value to be drawn again at the next refresh.
void SetAllChanged();

// Refreshes the scan statistics on the main window under MutexForCommonData.
void KivNT();

// Repaints the whole main window: its picture, and over the results
// background every value.
void PaintClient(HWND hwnd);
