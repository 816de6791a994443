// Palettes and drawing of the pictures that bmpfile.cpp loads: the logical
// palette built from a picture's colour table (read at file offset 54, as if
// the information header were always 40 bytes long), its realisation in a
// window, and the device-dependent bitmap made anew for every draw. Top-down
// pictures (negative height) are drawn the right way up, |height| rows tall.
#include "display/dib.h"

#include "app/kivifat.h"
#include "engine/fatdisk.h"

HPALETTE hPal;

namespace {

// Information header, from its start.
constexpr size_t BIH_Width = 4;    // 32 bits, signed
constexpr size_t BIH_Height = 8;   // 32 bits, signed; negative when top-down

// Colour-table entries (blue, green, red, reserved) from this offset of the
// picture block.
constexpr size_t kPaletteOffset = BITMAP_HEADER_OFFSET + 40;
constexpr size_t RGB_Blue = 0, RGB_Green = 1, RGB_Red = 2;

// The palette description handed to the platform: a 16-bit version, a 16-bit
// entry count, then 4-byte entries (red, green, blue, flags).
constexpr size_t LP_Version = 0;
constexpr size_t LP_NumEntries = 2;
constexpr size_t LP_Entries = 4;
constexpr size_t PE_Red = 0, PE_Green = 1, PE_Blue = 2, PE_Flags = 3;
constexpr WORD kPaletteVersion = 0x300;

void st_16(BYTE *ptr, WORD value)
{
    ptr[0] = (BYTE)value;
    ptr[1] = (BYTE)(value >> 8);
}

}  // namespace

HPALETTE PaletteFromDIB(HWND hwnd, BYTE flags)
{
    const BYTE *picture = (const BYTE *)GlobalLock(hDIB);
    if (picture == NULL) {
        MessageBoxA(hwnd, "ERROR - PaletteFromDIB - GlobalLock", szAppName, MB_OK);
        return NULL;
    }
    const int count = GetNumColors(picture + BITMAP_HEADER_OFFSET);
    // Four bytes more than the description takes, as it has always been sized.
    BYTE *description = (BYTE *)GlobalAlloc(GPTR, 8 + 4 * (SIZE_T)count);
    if (description == NULL) {
        GlobalUnlock(hDIB);
        return NULL;
    }
    st_16(&description[LP_Version], kPaletteVersion);
    st_16(&description[LP_NumEntries], (WORD)count);
    for (int i = 0; i < count; ++i) {
        const BYTE *colour = &picture[kPaletteOffset + 4 * (size_t)i];
        BYTE *entry = &description[LP_Entries + 4 * (size_t)i];
        entry[PE_Red] = colour[RGB_Red];
        entry[PE_Green] = colour[RGB_Green];
        entry[PE_Blue] = colour[RGB_Blue];
        entry[PE_Flags] = flags;
    }
    const HPALETTE palette = CreatePalette((const LOGPALETTE *)description);
    GlobalFree(description);
    GlobalUnlock(hDIB);
    return palette;
}

void UpdateSystemPalette(HWND hwnd)
{
    HDC hdc = GetDC(hwnd);
    hPal = PaletteFromDIB(hwnd, 0);
    if (hdc != NULL && hPal != NULL) {
        const HPALETTE previous = SelectPalette(hdc, hPal, FALSE);
        RealizePalette(hdc);
        if (previous != NULL)
            SelectPalette(hdc, previous, FALSE);
    }
    InvalidateRect(hwnd, NULL, TRUE);
    UpdateWindow(hwnd);
    if (hdc != NULL)
        ReleaseDC(hwnd, hdc);
}

HBITMAP DIBtoDDB(HDC hdc, HPALETTE hpal, const BYTE *header)
{
    HPALETTE previous = NULL;
    if (hpal != NULL) {
        previous = SelectPalette(hdc, hpal, FALSE);
        RealizePalette(hdc);
    }
    // The header, colour table and bits go to the platform as they lie in the
    // block; a top-down picture becomes a bitmap of |height| rows, upright.
    const HBITMAP bitmap = CreateDIBitmap(hdc, (const BITMAPINFOHEADER *)header, CBM_INIT,
                                          GetDIBImagePtr(header), (const BITMAPINFO *)header,
                                          DIB_RGB_COLORS);
    if (previous != NULL)
        SelectPalette(hdc, previous, FALSE);
    return bitmap;
}

void DIBBlt(HDC hdc, HPALETTE hpal, int x, int y, int width, int height, const BYTE *header, int xSrc,
            int ySrc, DWORD rop)
{
    if (header == NULL)
        return;
    const HBITMAP bitmap = DIBtoDDB(hdc, hpal, header);
    if (bitmap == NULL)
        return;
    HDC memory = CreateCompatibleDC(hdc);
    if (memory == NULL) {
        DeleteObject(bitmap);
        return;
    }
    const HGDIOBJ previous = SelectObject(memory, bitmap);
    if (width == 0)
        width = (LONG)ld_32(&header[BIH_Width]);
    if (height == 0) {
        const LONGLONG rows = (LONG)ld_32(&header[BIH_Height]);
        height = (int)(rows < 0 ? -rows : rows);
    }
    BitBlt(hdc, x, y, width, height, memory, xSrc, ySrc, rop);
    SelectObject(memory, previous);
    DeleteDC(memory);
    DeleteObject(bitmap);
}
