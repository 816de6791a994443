// The drive list's line layout.
#include "app/driveline.h"

#include <cstdio>
#include <cstring>

void BuildDriveLine(LPSTR line, char letter, LPCSTR label, LPCSTR fileSystem)
{
    int length = snprintf(line, DRIVE_LINE_SIZE, "%c:  [%s]", letter, *label ? label : "No label");
    if (length < 0 || length >= DRIVE_LINE_SIZE - 1)
        length = DRIVE_LINE_SIZE - 2;
    const int padding = length < DRIVE_COLUMN ? DRIVE_COLUMN - length : 1;
    snprintf(line + length, DRIVE_LINE_SIZE - length, "%*s[%s]", padding, "", fileSystem);
}
