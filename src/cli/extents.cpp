// Runs of clusters from the in-memory FAT: a file's, the free ones, and
// those of each directory the walk claims.
#include "cli/extents.h"

#include "engine/chains.h"
#include "engine/exfatscan.h"
#include "engine/fatdisk.h"
#include "engine/geometry.h"

namespace {

// The directory whose clusters are being claimed: its last cluster, and
// whether it was counted as fragmented already.
DWORD lastDirCluster;
bool dirCounted;
DWORD fragmentedDirs;

// The free runs among clusters 2 to TotalClusters + 1, `inUse` telling
// which are taken: the first of equally long runs is the largest.
template <typename InUse>
FreeExtents FreeRuns(InUse inUse)
{
    FreeExtents free = {0, {0, 0}};
    ClusterRun current = {0, 0};
    for (DWORD cluster = 2; cluster - 2 < TotalClusters; cluster++) {
        if (inUse(cluster)) {
            current.clusters = 0;
            continue;
        }
        if (current.clusters == 0) {
            current.cluster = cluster;
            free.count++;
        }
        if (++current.clusters > free.largest.clusters)
            free.largest = current;
    }
    return free;
}

// Free runs by a FAT image of `Bits`-bit entries: a cluster is free when its
// entry is 0; one whose entry the image does not hold (past its first
// `entries`) counts as in use. One loop per width, so that the entry is read
// without asking the width each time.
template <DWORD Bits>
FreeExtents FatFreeRuns(const BYTE *fat, ULONGLONG entries)
{
    return FreeRuns([fat, entries](DWORD cluster) { return cluster >= entries || FatEntryAt(fat, Bits, cluster) != 0; });
}

}  // namespace

RunPlace PlaceOf(const ClusterRun &run, ULONGLONG volumeStart)
{
    const ULONGLONG sector = Cluster2 + (ULONGLONG)(run.cluster - 2) * SectorsPerCluster;
    return {sector, (ULONGLONG)run.clusters * SectorsPerCluster, volumeStart + sector * BytesPerSector};
}

std::vector<ClusterRun> FileRuns(const BYTE *entry, DWORD clusters)
{
    std::vector<ClusterRun> runs;
    if (ExfatVolume) {   // the runs the walk measured, the FAT not read again
        for (const ExfatRun &run : ExfatFileRuns)
            runs.push_back({run.first, run.length});
        return runs;
    }
    const BYTE *fat = (const BYTE *)GlobalLock(hFat);
    if (fat == NULL)
        return runs;
    DWORD cluster = FirstClusterOf(entry, FatBits);
    for (DWORD followed = 0; followed < clusters && cluster >= 2 && cluster - 2 < TotalClusters; followed++) {
        if (!runs.empty() && runs.back().cluster + runs.back().clusters == cluster)
            runs.back().clusters++;
        else
            runs.push_back({cluster, 1});
        cluster = NextCluster(fat, cluster);
    }
    GlobalUnlock(hFat);
    return runs;
}

FreeExtents CountFreeExtents()
{
    if (ExfatVolume)   // free by the allocation bitmap
        return FreeRuns(ExfatClusterInUse);
    const BYTE *fat = (const BYTE *)GlobalLock(hFat);
    if (fat == NULL)
        return {0, {0, 0}};
    const ULONGLONG entries = FatEntriesIn((ULONGLONG)FatSectors * SECTOR_SIZE, FatBits);
    const FreeExtents free = FatBits == 32   ? FatFreeRuns<32>(fat, entries)
                             : FatBits == 16 ? FatFreeRuns<16>(fat, entries)
                                             : FatFreeRuns<12>(fat, entries);
    GlobalUnlock(hFat);
    return free;
}

void BeginDirectoryRuns()
{
    lastDirCluster = 0;
    dirCounted = false;
    fragmentedDirs = 0;
}

// The walk claims each directory's chain whole, one cluster after the other,
// and never a cluster twice: a cluster that the last one claimed links to
// continues the same directory, any other starts the next one.
void NoteDirectoryCluster(DWORD cluster)
{
    const BYTE *fat = (const BYTE *)GlobalLock(hFat);
    const bool continues = fat != NULL && lastDirCluster >= 2 && NextCluster(fat, lastDirCluster) == cluster;
    if (fat != NULL)
        GlobalUnlock(hFat);
    if (!continues)
        dirCounted = false;
    else if (cluster != lastDirCluster + 1 && !dirCounted) {
        dirCounted = true;
        fragmentedDirs++;
    }
    lastDirCluster = cluster;
}

DWORD FragmentedDirectories()
{
    if (ExfatVolume)
        return ExfatFragmentedDirectories;
    return fragmentedDirs;
}
