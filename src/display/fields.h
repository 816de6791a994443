// The text of the results panel's fields, apart from drawing them, so that
// the rules can be tested on any host: the 41-character path field, the
// average with two decimals, and numbers printed as their low 32 bits.
#pragma once

#include "platform/win32.h"

#define PATH_FIELD 41

// The 41 characters shown for `text` (no terminator is written beyond them):
// its last 41 characters when it is longer, otherwise the text followed by
// spaces, so that a shorter value overwrites a longer one completely.
void PathField(LPCSTR text, char field[PATH_FIELD]);

// "%7d" of the low 32 bits of `value`, taken as signed, into `buffer`.
int NumberField(LPSTR buffer, ULONGLONG value);

// The average extents per measured file, "%4d.%02d" of
// (TotalExtents x 100) div TotalFiles in signed 32-bit arithmetic (the
// product wraps instead of overflowing). `files` must not be 0.
int AverageField(LPSTR buffer, DWORD extents, DWORD files);
