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
    FreeExtents free = {0, {0, 0}};
    const BYTE *fat = ExfatVolume ? NULL : (const BYTE *)GlobalLock(hFat);
    if (fat == NULL && !ExfatVolume)
        return free;
    ClusterRun current = {0, 0};
    for (DWORD cluster = 2; cluster - 2 < TotalClusters; cluster++) {
        // exFAT: free by the allocation bitmap.
        if (ExfatVolume ? ExfatClusterInUse(cluster) : NextCluster(fat, cluster) != 0) {
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
    if (fat != NULL)
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
