// Palettes and drawing of the pictures held by bmpfile.h (Windows build).
#pragma once

#include "display/bmpfile.h"
#include "platform/win32.h"

// The palette built from the main window's current picture; NULL when none.
extern HPALETTE hPal;

// A new palette from the colour table of the picture in hDIB; NULL on failure.
HPALETTE PaletteFromDIB(HWND hwnd, BYTE flags);

// Builds hPal from hDIB (overwriting it without deleting), realises it in the
// window and repaints the window.
void UpdateSystemPalette(HWND hwnd);

// A device-dependent bitmap of the picture for the device context; NULL on failure.
HBITMAP DIBtoDDB(HDC hdc, HPALETTE hpal, const BYTE *header);

// Draws the picture (nothing without a header); a width or height of 0 means
// the picture's own.
void DIBBlt(HDC hdc, HPALETTE hpal, int x, int y, int width, int height, const BYTE *header, int xSrc,
            int ySrc, DWORD rop);
