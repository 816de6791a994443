// The line that the drive list shows for one drive: letter, colon, the label
// in brackets ("No label" when it is empty) padded to 30 characters, then the
// file-system name in brackets, as in "D:  [DATA]                    [FAT]".
#pragma once

#include "platform/win32.h"

#define DRIVE_LINE_SIZE 260
#define DRIVE_COLUMN 30

// Writes the line for drive `letter` into `line` (DRIVE_LINE_SIZE bytes). A
// label too long for its column still gets one space before the name.
void BuildDriveLine(LPSTR line, char letter, LPCSTR label, LPCSTR fileSystem);
