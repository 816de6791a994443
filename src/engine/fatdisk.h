// The on-disk FAT12/FAT16 layout: named offsets of the boot sector and of the
// 32-byte directory entry, and little-endian loaders. Every structure is
// decoded from bytes through these; no struct is laid over a buffer.
#pragma once

#include "platform/win32.h"

// The program reads and sizes everything in 512-byte sectors.
#define SECTOR_SIZE 512u

// Boot sector (BIOS parameter block).
#define BPB_BytsPerSec 11   // 16 bits
#define BPB_SecPerClus 13   // 8 bits
#define BPB_RsvdSecCnt 14   // 16 bits
#define BPB_NumFATs 16      // 8 bits
#define BPB_RootEntCnt 17   // 16 bits
#define BPB_TotSec16 19     // 16 bits
#define BPB_FATSz16 22      // 16 bits
#define BPB_TotSec32 32     // 32 bits

// Directory entry.
#define SZ_DIRE 32u
#define DIR_Name 0          // 8 + 3 bytes, space padded
#define DIR_Attr 11         // 8 bits
#define DIR_FstClusLO 26    // 16 bits
#define DIR_FileSize 28     // 32 bits

inline WORD ld_16(const BYTE *ptr)
{
    return (WORD)(ptr[0] | (ptr[1] << 8));
}

inline DWORD ld_32(const BYTE *ptr)
{
    return (DWORD)ptr[0] | ((DWORD)ptr[1] << 8) | ((DWORD)ptr[2] << 16) | ((DWORD)ptr[3] << 24);
}

// FAT entry width for a volume of `clusters` data clusters: 16 bits above 4087
// clusters, otherwise 12 (the volume services and the engine agree on this).
inline DWORD FatBitsFor(DWORD clusters)
{
    return clusters > 4087 ? 16 : 12;
}
