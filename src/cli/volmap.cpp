// The volume map's states: marks taken during the single walk of the scan
// (directory clusters as the walker claims them, file clusters by following
// each measured file's chain again in the in-memory FAT), then the rest of
// the data clusters classified from the FAT.
#include "cli/volmap.h"

#include <cstring>

#include "engine/chains.h"
#include "engine/exfatscan.h"
#include "engine/fatdisk.h"
#include "engine/geometry.h"
#include "engine/walker.h"

namespace {

VolumeMap map;

// Raises the state of `cluster` to `state`; clusters off the volume are left out.
void Mark(DWORD cluster, MapState state)
{
    if (map.states.size() != (size_t)TotalClusters)
        map.states.assign(TotalClusters, MAP_UNSEEN);
    if (cluster < 2 || cluster - 2 >= TotalClusters)
        return;
    BYTE &cell = map.states[cluster - 2];
    if (cell < state)
        cell = (BYTE)state;
}

void MarkDirectory(DWORD cluster)
{
    Mark(cluster, MAP_DIRECTORY);
}

DWORD BadMark()
{
    return FatBits == 12 ? 0xFF7u : FatBits == 16 ? 0xFFF7u : 0x0FFFFFF7u;
}

// exFAT: a file's clusters are the runs the walk measured; the clusters no
// walk reached are free or lost by the allocation bitmap, the bitmap's and
// the up-case table's own as directory data (the volume's structures). Bad
// clusters are marked only in the FAT, which is not read whole: on exFAT they
// show as lost.
void MapExfatFile()
{
    const MapState state = NumberOfExtents > 1 ? MAP_FRAGMENTED : MAP_CONTIGUOUS;
    for (const ExfatRun &run : ExfatFileRuns)
        for (DWORD c = 0; c < run.length; c++)
            Mark(run.first + c, state);
}

const VolumeMap &FinishExfatMap()
{
    for (const ExfatRun &run : ExfatSystemRuns)
        for (DWORD c = 0; c < run.length; c++)
            Mark(run.first + c, MAP_DIRECTORY);
    for (DWORD i = 0; i < TotalClusters; i++) {
        if (map.states[i] == MAP_UNSEEN)
            map.states[i] = ExfatClusterInUse(i + 2) ? MAP_LOST : MAP_FREE;
        map.counts[map.states[i]]++;
    }
    return map;
}

}  // namespace

void BeginVolumeMap()
{
    map.states.clear();
    memset(map.counts, 0, sizeof map.counts);
    DirClusterRead = MarkDirectory;
}

void MapMeasuredFile(const BYTE *entry, DWORD clusters)
{
    if (ExfatVolume) {
        MapExfatFile();
        return;
    }
    const BYTE *fat = (const BYTE *)GlobalLock(hFat);
    if (fat == NULL)
        return;
    const MapState state = NumberOfExtents > 1 ? MAP_FRAGMENTED : MAP_CONTIGUOUS;
    DWORD cluster = FirstClusterOf(entry, FatBits);
    for (DWORD marked = 0; marked < clusters && cluster - 2 < TotalClusters; marked++) {
        Mark(cluster, state);
        cluster = NextCluster(fat, cluster);
    }
    GlobalUnlock(hFat);
}

const VolumeMap &FinishVolumeMap()
{
    DirClusterRead = NULL;
    Mark(0, MAP_UNSEEN);   // sizes a map that nothing marked
    if (ExfatVolume)
        return FinishExfatMap();
    const BYTE *fat = (const BYTE *)GlobalLock(hFat);
    for (DWORD i = 0; i < TotalClusters; i++) {
        const DWORD link = fat != NULL ? NextCluster(fat, i + 2) : NO_FAT_ENTRY;
        if (link == BadMark() || link == NO_FAT_ENTRY)
            map.states[i] = MAP_BAD;
        else if (map.states[i] == MAP_UNSEEN)
            map.states[i] = link == 0 ? MAP_FREE : MAP_LOST;
        map.counts[map.states[i]]++;
    }
    if (fat != NULL)
        GlobalUnlock(hFat);
    return map;
}

ULONGLONG ClustersPerCell(ULONGLONG clusters, ULONGLONG maxCells)
{
    return clusters <= maxCells ? 1 : (clusters + maxCells - 1) / maxCells;
}
