// The volume map: one state per data cluster, marked as the scan walks
// (directories through DirClusterRead, files through the FileMeasured hook)
// and completed from the FAT afterwards (on exFAT from the allocation
// bitmap), with the count of each state.
#pragma once

#include <vector>

#include "platform/win32.h"

// In order of severity: a cluster marked twice keeps the more severe state,
// and a cell of several clusters shows the most severe of its clusters'.
enum MapState : BYTE {
    MAP_UNSEEN,       // not marked yet (none left after FinishVolumeMap)
    MAP_FREE,         // free in the FAT
    MAP_CONTIGUOUS,   // in a measured file of one extent
    MAP_DIRECTORY,    // read as directory data
    MAP_FRAGMENTED,   // in a measured file of several extents
    MAP_LOST,         // in use in the FAT but in nothing the walk measured
    MAP_BAD,          // the FAT's bad-cluster mark, or no FAT entry at all
    MAP_STATES
};

struct VolumeMap {
    std::vector<BYTE> states;          // data cluster 2 + i at i
    ULONGLONG counts[MAP_STATES];      // clusters in each state
};

// Empties the map and sets DirClusterRead; before the scan starts.
void BeginVolumeMap();
// Marks the clusters of a measured file (a FileMeasured hook's arguments):
// its chain followed again in the in-memory FAT, for `clusters` clusters.
void MapMeasuredFile(const BYTE *entry, DWORD clusters);
// After the walk: the unmarked clusters from the FAT (free, bad or lost),
// the bad marks over anything else, the counts; clears DirClusterRead.
const VolumeMap &FinishVolumeMap();

// Most cells a map holds (1024 x 1024); larger volumes share cells.
#define MAP_MAX_CELLS (1024ull * 1024ull)

// Clusters per cell so that the map holds at most `maxCells` cells.
ULONGLONG ClustersPerCell(ULONGLONG clusters, ULONGLONG maxCells);
