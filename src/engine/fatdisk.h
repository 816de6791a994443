// The on-disk FAT12/FAT16/FAT32 layout: named offsets of the boot sector and of the
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
// FAT32 only; its 16-bit FAT size and root entry count are 0.
#define BPB_FATSz32 36      // 32 bits
#define BPB_RootClus 44     // 32 bits

// Directory entry.
#define SZ_DIRE 32u
#define DIR_Name 0          // 8 + 3 bytes, space padded
#define DIR_Attr 11         // 8 bits
#define DIR_FstClusHI 20    // 16 bits, FAT32 only
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

// A FAT32 boot sector gives the FAT's size only in its 32-bit field.
inline bool IsFat32Boot(const BYTE *boot)
{
    return ld_16(&boot[BPB_FATSz16]) == 0;
}

// FAT entry width of a volume of `clusters` data clusters: 32 bits when its
// boot sector is a FAT32 one, otherwise 16 bits above 4087 clusters and 12 up
// to 4087 (the volume services and the engine agree on this).
inline DWORD FatBitsFor(bool fat32Boot, DWORD clusters)
{
    if (fat32Boot)
        return 32;
    return clusters > 4087 ? 16 : 12;
}

// Sectors per FAT copy, from the field the volume's kind uses.
inline DWORD SectorsPerFatOf(const BYTE *boot)
{
    const DWORD perFat = ld_16(&boot[BPB_FATSz16]);
    return perFat != 0 ? perFat : ld_32(&boot[BPB_FATSz32]);
}

// Sectors of the volume: the 16-bit count, or the 32-bit one when that is 0.
inline DWORD TotalSectorsOf(const BYTE *boot)
{
    const DWORD total = ld_16(&boot[BPB_TotSec16]);
    return total != 0 ? total : ld_32(&boot[BPB_TotSec32]);
}

// First sector of the data area: after the reserved sectors, the FATs and the
// whole sectors that the root directory occupies (none on FAT32).
inline ULONGLONG DataStartOf(const BYTE *boot)
{
    return (ULONGLONG)ld_16(&boot[BPB_RsvdSecCnt]) + (ULONGLONG)boot[BPB_NumFATs] * SectorsPerFatOf(boot) +
           ((ULONGLONG)ld_16(&boot[BPB_RootEntCnt]) * SZ_DIRE + SECTOR_SIZE - 1) / SECTOR_SIZE;
}

// Sectors that hold the `bits`-bit entries of clusters 0 to `clusters` + 1.
inline ULONGLONG FatSectorsFor(ULONGLONG clusters, DWORD bits)
{
    return ((clusters + 2) * bits + 8 * SECTOR_SIZE - 1) / (8 * SECTOR_SIZE);
}

// Most data clusters of a FAT12/FAT16 volume: the cluster numbers then still
// fit in 16 bits below the reserved values.
#define FAT16_MAX_CLUSTERS 0xFFF4u

// A FAT32 cluster number has 28 bits; the top four bits of an entry are kept
// for other uses and ignored.
#define FAT32_MASK 0x0FFFFFFFu
// Links from this value up end a FAT32 chain.
#define FAT32_END 0x0FFFFFF8u
// Most data clusters a FAT32 volume can have (cluster numbers below 0x0FFFFFF7).
#define FAT32_MAX_CLUSTERS 0x0FFFFFF5u

// First cluster of a directory entry on a volume with `fatBits`-bit entries:
// FAT12 and FAT16 have only the low 16 bits.
inline DWORD FirstClusterOf(const BYTE *entry, DWORD fatBits)
{
    const DWORD low = ld_16(&entry[DIR_FstClusLO]);
    return fatBits == 32 ? (low | (DWORD)ld_16(&entry[DIR_FstClusHI]) << 16) & FAT32_MASK : low;
}
