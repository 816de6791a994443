// The engine's raw view of the selected volume: the geometry decoded from the
// boot sector, the raw volume handle, the in-memory FAT and root directory,
// and the two read primitives.
#pragma once

#include "platform/win32.h"

// Geometry, rewritten by every volume preparation.
extern DWORD BytesPerSector;
extern DWORD SectorsPerCluster;
extern DWORD BootSectors;       // reserved sectors before the first FAT
extern DWORD Fats;
extern DWORD RootDirs;          // root directory entries
extern DWORD TotalSectors;
extern DWORD SectorsPerFat;
extern DWORD Cluster2;          // first sector of the data area
extern DWORD TotalClusters;
extern DWORD BytesPerCluster;
extern DWORD FatBits;           // 12, 16 or 32
extern DWORD RootCluster;       // FAT32: first cluster of the root directory

extern HANDLE hVolumes;         // the raw volume; INVALID_HANDLE_VALUE when closed
extern HGLOBAL hFat;            // the current FAT copy: its first FatSectors x 512 bytes
extern DWORD FatSectors;        // all of a FAT12/FAT16 copy; on FAT32 those holding the volume's entries
extern HGLOBAL hTmp;            // raw entries of the directory about to be loaded
extern DWORD DirEntries;        // 32-byte slots in hTmp

// Reads `length` bytes at `offset` of the raw volume (hVolumes). A read that
// returns fewer bytes than asked (the end of an image) counts as the end of
// the file (STATUS_END_OF_FILE), so that nothing ever parses bytes that were
// not read. Says nothing; 0 when read.
NTSTATUS ReadVolume(ULONGLONG offset, ULONG length, void *destination);

// Reads `count` 512-byte sectors from `first` into a new zero-filled block.
// Returns the block unlocked (the caller frees it), or NULL after showing why.
// UI thread only: its messages are formatted in cString.
HGLOBAL ReadSectors(DWORD first, DWORD count);

// Reads `count` sectors of data cluster `cluster`, from its sector `first`, to
// their place in the cluster's image at `clusterData` (BytesPerCluster bytes),
// and says nothing: returns the status, 0 when read. Clusters 0 and 1, and
// sectors past the cluster's end, are refused (STATUS_INVALID_PARAMETER); a
// cluster that does not lie whole on the volume is not read (STATUS_END_OF_FILE).
NTSTATUS ReadClusterSectors(DWORD cluster, DWORD first, DWORD count, BYTE *clusterData);

// ReadClusterSectors that, on failure, shows the status, zero-fills the whole
// cluster image and returns false. Scan thread; formats its message in a
// buffer of its own.
bool GetCluster(DWORD cluster, DWORD first, DWORD count, BYTE *clusterData);

// Asks for the first sectors (up to 4 KiB) of data cluster `cluster` to be
// read in the background, so that a directory there is ready when the walk
// enters it. Clusters off the volume are left alone.
void PrefetchCluster(DWORD cluster);

// Closes hVolumes if it is open.
void CloseVolume();

// Opens "\\.\<cDrive>", decodes and checks the boot sector, takes the data
// area's start from the super-area read by KivNTInitialize, and puts the
// current FAT copy in hFat: the image the super-area read, when it is that
// copy, or else the first readable copy (with FAT32 mirroring off, the active
// one only), read here. On FAT12 and FAT16 it reads the root directory into
// hTmp (a FAT32 root is a chain, read by the walker). False after showing
// why; nothing is then left open or allocated.
bool PrepareVolume();
