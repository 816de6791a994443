// Opening the selected drive through the file-system utility classes, reading
// its FAT super-area, and the disk statistics derived from it.
#pragma once

#include "fatutil/fatutil.h"
#include "platform/win32.h"

extern LOG_IO_DP_DRIVE *Drive;   // the drive of the latest OpenVolume, or none
extern REAL_FAT_SA RealFatSa;    // the super-area of that drive
extern ULONGLONG ClusterSize;    // bytes per cluster
extern ULONGLONG TotalSpace;     // bytes in all data clusters
extern ULONGLONG FreeSpace;      // free space in units of 1000 bytes

// Opens cDrive as the new Drive (replacing the previous one). True when Drive
// holds an initialised drive; reports nothing itself.
bool OpenVolume();

// Binds RealFatSa to Drive and reads it. On failure shows
// "ERROR - KivNTInitialize" and returns false.
bool KivNTInitialize();

// Stores ClusterSize, TotalSpace and FreeSpace and paints them on the main
// window. Cannot fail: returns true.
bool GetDiskStats();

// Draws the disk statistics on a device context of the main window; provided
// by the display (the results panel, or nothing for programs without one).
void UpdateDiskStats(HDC hdc);
