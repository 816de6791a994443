// Where things lie on the volume, as runs of consecutive clusters: a measured
// file's runs, followed again in the in-memory FAT; the FAT's free runs; and
// the directories whose clusters, as the walk claims them, lie in more than
// one run. Everything comes from the FAT image the analysis holds in memory:
// nothing is read from the volume again.
#pragma once

#include <vector>

#include "platform/win32.h"

struct ClusterRun {
    DWORD cluster;    // first cluster
    DWORD clusters;   // consecutive clusters from it; 0 for no run
};

// A run's place: its first sector and sector count on the volume (the
// partition), and the byte offset of its first sector from the start of the
// image or device, `volumeStart` being the volume's own offset there.
struct RunPlace {
    ULONGLONG sector;
    ULONGLONG sectors;
    ULONGLONG offset;
};
RunPlace PlaceOf(const ClusterRun &run, ULONGLONG volumeStart);

// The runs of a measured file's first `clusters` clusters (a FileMeasured
// hook's arguments), in file order.
std::vector<ClusterRun> FileRuns(const BYTE *entry, DWORD clusters);

// The free runs of the FAT: how many, and the longest (the first of them
// when several are as long; no clusters when nothing is free).
struct FreeExtents {
    ULONGLONG count;
    ClusterRun largest;
};
FreeExtents CountFreeExtents();

// Fragmented directories. BeginDirectoryRuns before the walk; each cluster a
// directory's chain claims (DirClusterRead) to NoteDirectoryCluster, which
// sees a directory's clusters one after the other in chain order; after the
// walk, FragmentedDirectories: how many directories lie in more than one run.
void BeginDirectoryRuns();
void NoteDirectoryCluster(DWORD cluster);
DWORD FragmentedDirectories();
