// FAT chains: the link of a cluster in the in-memory FAT image, and the two
// chain measures (a directory's length, a file's length and extents).
// All work on the locked image of hFat (FatSectors x 512 bytes) with the
// geometry of the current volume.
#pragma once

#include "engine/fatdisk.h"
#include "platform/win32.h"

// Extents (runs of consecutive clusters) of the file being examined.
extern DWORD NumberOfExtents;

// The link of `cluster` in the FAT image (28 bits on FAT32), or NO_FAT_ENTRY
// (fatdisk.h) when its entry lies outside the image.
DWORD NextCluster(const BYTE *pFat, DWORD cluster);

// True when `link` ends a chain: exactly 0xFFF or 0xFFFF on FAT12 and FAT16,
// any value from 0x0FFFFFF8 to 0x0FFFFFFF on FAT32.
bool EndsChain(DWORD link);

// Counts the clusters of the chain from `start`. Returns false when the chain
// is broken: it reaches a free link (0), cluster 1, an entry outside the
// image, on FAT32 a cluster past the volume's last (the bad-cluster mark
// included), or runs longer than the volume can hold (a loop). A start that
// ends a chain counts 0 clusters.
bool MeasureDirChain(const BYTE *pFat, DWORD start, DWORD *count);

// As MeasureDirChain, and sets NumberOfExtents: one for every cluster whose
// link is not the next cluster number (the last one always counts). On a
// broken chain NumberOfExtents holds the extents counted up to the break.
// The walk also stops, returning false, once the chain is longer than
// `longest` clusters: the most its file's size can need, so that a file on a
// corrupt volume costs no more than its size.
bool MeasureFileChain(const BYTE *pFat, DWORD start, DWORD longest, DWORD *count);
