// Drives defined through Wine's mount manager from inside a running session
// (test programs only): the same two links a user makes by hand in the
// prefix's dosdevices folder, "x:" to a folder and "x::" to the image or
// device, seen by every process of the session at once.
#pragma once

#include <windows.h>

// Asks the mount manager to define drive `letter` ('A' to 'Z') of kind `type`
// (DRIVE_FIXED, DRIVE_REMOVABLE; DRIVE_NO_ROOT_DIR removes it) with the given
// host paths (NULL leaves one out). False when Wine refused or is not there.
bool AskMountManager(char letter, ULONG type, const char *mountPoint, const char *device);

// Removes drive `letter`. Removing keeps the device link, so it is first
// pointed at a path that cannot exist: nothing opens the old image through it.
void RemoveWineDrive(char letter);
