// FAT chains: the link of a cluster in the in-memory FAT image, and the two
// chain measures (a directory's length, a file's length and extents).
// All work on the locked image of hFat (SectorsPerFat x 512 bytes) with the
// geometry of the current volume.
#pragma once

#include "platform/win32.h"

// Extents (runs of consecutive clusters) of the file being examined.
extern DWORD NumberOfExtents;

// Value returned by NextCluster for a cluster whose entry lies outside the image.
#define NO_FAT_ENTRY 0xFFFFFFFFu

// The link of `cluster` in the FAT image, or NO_FAT_ENTRY.
DWORD NextCluster(const BYTE *pFat, WORD cluster);

// Counts the clusters of the chain from `start`. Returns false when the chain
// is broken: it reaches a free link (0), cluster 1, an entry outside the
// image, or runs longer than the volume can hold (a loop). A start equal to
// the end-of-chain value counts 0 clusters.
bool MeasureDirChain(const BYTE *pFat, WORD start, WORD *count);

// As MeasureDirChain, and sets NumberOfExtents: one for every cluster whose
// link is not the next cluster number (the last one always counts). On a
// broken chain NumberOfExtents holds the extents counted up to the break.
// The walk also stops, returning false, once the chain is longer than
// `longest` clusters: the most its file's size can need, so that a file on a
// corrupt volume costs no more than its size.
bool MeasureFileChain(const BYTE *pFat, WORD start, DWORD longest, WORD *count);
