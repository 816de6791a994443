// Pictures read from Windows bitmap files: the whole file is held in one
// memory block, and the few header fields the program relies on are read
// from it by offset. Portable: no drawing here (see dib.h).
#pragma once

#include "platform/win32.h"

// The information header starts this far into a picture block.
#define BITMAP_HEADER_OFFSET 14

// The main window's current picture; NULL when none.
extern HGLOBAL hDIB;

// Reads the whole file `name` into a new picture block; NULL on failure
// (after a message, except when the file cannot be opened).
HGLOBAL LoadFile(LPCSTR name);

// Loads `name` into hDIB (overwriting it without releasing) and gives its
// width and height. A picture whose file is shorter than its header announces
// is refused. False, with hDIB NULL and width and height untouched, on
// failure.
bool GetBitmap(LPCSTR name, DWORD *width, DWORD *height);

// The header rules; `header` is the picture block's address + 14.
int GetNumColors(const BYTE *header);
WORD GetClrTableSize(const BYTE *header);
const BYTE *GetDIBImagePtr(const BYTE *header);
