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
#define DIR_Attr 11         // 8 bits, ATTR_* below
#define DIR_NTRes 12        // 8 bits, NTRES_* below
#define DIR_FstClusHI 20    // 16 bits, FAT32 only
#define DIR_FstClusLO 26    // 16 bits
#define DIR_FileSize 28     // 32 bits

// DIR_Name[0]: markers in place of a name's first character.
#define DIR_END 0x00        // this slot and every one after it are unused
#define DIR_DELETED 0xE5    // a deleted entry
#define DIR_DOT '.'         // "." and ".." of a subdirectory
#define DIR_E5_FIRST 0x05   // a name whose first character is the byte 0xE5

// DIR_Attr bits. A long-name slot has read-only, hidden, system and volume
// label all set: ATTR_LONG_NAME under ATTR_LONG_NAME_MASK.
#define ATTR_READ_ONLY 0x01
#define ATTR_HIDDEN 0x02
#define ATTR_SYSTEM 0x04
#define ATTR_VOLUME_ID 0x08
#define ATTR_DIRECTORY 0x10
#define ATTR_ARCHIVE 0x20
#define ATTR_LONG_NAME 0x0F
#define ATTR_LONG_NAME_MASK 0x3F

// DIR_NTRes bits: the base name or the extension is shown in lower case.
#define NTRES_LOWER_BASE 0x08
#define NTRES_LOWER_EXT 0x10

// Long-name slot (ATTR_LONG_NAME): 13 UTF-16 characters in three pieces.
#define LDIR_Ord 0          // 8 bits: sequence number, LAST_LONG_ENTRY on the last
#define LDIR_Name1 1        // 5 characters
#define LDIR_Chksum 13      // 8 bits: checksum of the short name it belongs to
#define LDIR_Name2 14       // 6 characters
#define LDIR_Name3 28       // 2 characters
#define LAST_LONG_ENTRY 0x40
#define LDIR_ORD_MASK 0x3F

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
