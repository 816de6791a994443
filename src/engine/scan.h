// The scan thread and its statistics: StartDirScanThread finishes the volume
// preparation and starts DirScanThread, which walks every directory, measures
// every file's chain, and posts KIV_END to the main window when it is done.
// The statistics and cFileName are shared with the UI thread under hMutex.
#pragma once

#include <atomic>

#include "platform/win32.h"

extern DWORD TotalFiles;            // files measured
extern DWORD ZeroLengthFileCount;   // files with first cluster 0 and size 0
extern DWORD TotalFragFiles;        // measured files with more than one extent
extern ULONGLONG TotalFilesSize;    // clusters x BytesPerCluster over measured files
extern DWORD LargestFileSize;
extern DWORD SmallestFileSize;      // smallest non-zero size; 0xFFFFFFFF when none
extern DWORD TotalExtents;
extern DWORD MaxExtents;
extern char LargestFileName[260];
extern char SmallestFileName[260];
extern char MaxExtentsFileName[260];

// Set by the scan thread, cleared by the panel after drawing the value.
extern std::atomic<bool> TotalExtentsChanged;
extern std::atomic<bool> LargestFileChanged;
extern std::atomic<bool> SmallestFileChanged;
extern std::atomic<bool> MaxExtentsChanged;
extern std::atomic<bool> TotalFragChanged;

// When true the scan sleeps 50 ms before each file, leaving the machine to
// the user. The window keeps it; the command-line analyzer turns it off.
extern bool GiveAway;

// True once the last scan thread has walked every directory (read after its
// KIV_END).
extern std::atomic<bool> WalkCompleted;

// Called, when set, for every file CalculateStats records (scan thread, mutex
// held): its directory entry, full path and cluster count.
typedef void (*FILEMEASURED)(const BYTE *entry, LPCSTR path, DWORD clusters);
extern FILEMEASURED FileMeasured;

// Puts every statistic and change flag back to its state before a scan.
void ResetStats();

// Prepares the volume of cDrive, loads the root level and starts the scan
// thread. False after showing why; nothing is then left open.
bool StartDirScanThread();

// A scan thread's start: clears WalkCompleted and takes MutexForCommonData.
// When the wait fails it shows why, closes the volume, posts KIV_END and
// returns false (the thread then ends at once).
bool EnterScanThread();

// The scan thread. Always posts KIV_END when it ends.
DWORD WINAPI DirScanThread(LPVOID);

// Records a measured file of `clusters` clusters with its full path.
void CalculateStats(const BYTE *entry, LPCSTR path, DWORD clusters);

// Posts KIV_END to the main window.
void Terminate();
