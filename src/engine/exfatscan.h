// The engine's reading of an exFAT volume: the boot region (the backup used
// when the main one is damaged), the allocation bitmap read once, and the
// walk of the directory tree on a scan thread of its own that feeds the same
// statistics, hooks and skipped counts as the FAT walk (CalculateStats,
// FileMeasured, DirClusterRead, engine/longpath.h). The window never starts
// it: it lists FAT drives only.
#pragma once

#include <vector>

#include "engine/exfatset.h"
#include "platform/win32.h"

// True when the volume analysed last is an exFAT one: set by StartExfatScan,
// cleared by StartDirScanThread.
extern bool ExfatVolume;
// Free clusters: clear bits of the allocation bitmap over ClusterCount.
extern ULONGLONG ExfatFreeClusters;
// True when the main boot region was damaged and the backup was read.
extern bool ExfatBackupBoot;

// The file being measured (in FileMeasured): its entry set decoded, and its
// clusters as runs of consecutive ones, in file order.
struct ExfatRun {
    DWORD first;
    DWORD length;
};
extern ExfatEntry ExfatFile;
extern std::vector<ExfatRun> ExfatFileRuns;
// The clusters of the volume's own structures that the root's entries name:
// the allocation bitmap and the up-case table (consecutive, as written), as
// far as they lie in the heap.
extern std::vector<ExfatRun> ExfatSystemRuns;

// Directories whose clusters, as the walk claims them, lie in more than one run.
extern DWORD ExfatFragmentedDirectories;

// True when `cluster` is set in the allocation bitmap (read once, kept for
// the analyzer's map); false for clusters outside the heap.
bool ExfatClusterInUse(DWORD cluster);

// The largest size CalculateStats records: its sizes have 32 bits, so the
// statistics hold larger files at 0xFFFFFFFF bytes (ExfatFile has the whole size).
#define EX_STATS_MAX_SIZE 0xFFFFFFFFu

// Opens "\\.\<cDrive>", reads and checks the boot region, the root directory
// and the allocation bitmap, sets the geometry (TotalClusters,
// BytesPerCluster, FatBits 32) and the disk statistics (ClusterSize,
// TotalSpace, FreeSpace), and starts the scan thread, which posts KIV_END
// when done. False after showing why; nothing is then left open.
bool StartExfatScan();

// Measures the clusters of an entry set's data of `needed` clusters from
// `first`: with `noFatChain` consecutive, without reading the FAT; otherwise
// its FAT chain, which must end exactly after `needed` clusters (`needed` 0:
// wherever it ends, at most ClusterCount clusters). Fills `runs`. False when
// a cluster lies outside the heap, the chain is broken, ends early or goes
// on, or the FAT cannot be read. For tests and the walk.
bool ExfatChain(DWORD first, bool noFatChain, ULONGLONG needed, std::vector<ExfatRun> *runs);
