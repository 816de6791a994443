// The results panel's field texts.
#include "display/fields.h"

#include <cstring>

void PathField(LPCSTR text, char field[PATH_FIELD])
{
    const size_t length = strlen(text);
    if (length > PATH_FIELD) {
        memcpy(field, text + length - PATH_FIELD, PATH_FIELD);
        return;
    }
    memcpy(field, text, length);
    memset(field + length, ' ', PATH_FIELD - length);
}

int NumberField(LPSTR buffer, ULONGLONG value)
{
    return wsprintfA(buffer, "%7d", (int)(DWORD)value);
}

// The panel's rule for the average extents: 32-bit signed arithmetic, as the
// window has always computed it, so that the panel shows what it always
// showed. The analyzer's report keeps the exact 64-bit quotient instead
// (AverageHundredths, cli/report.cpp); they differ only past 21,474,836
// extents, where extents * 100 leaves 31 bits.
int AverageField(LPSTR buffer, DWORD extents, DWORD files)
{
    // Unsigned multiplication wraps where a signed one would be undefined;
    // the result is then read as the signed value it represents.
    // Widened division, so that even INT_MIN / -1 is defined.
    const int hundredths = (int)((long long)(int)(DWORD)(extents * 100u) / (long long)(int)files);
    return wsprintfA(buffer, "%4d.%02d", hundredths / 100, hundredths % 100);
}
