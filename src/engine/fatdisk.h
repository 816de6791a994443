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
#define BPB_ExtFlags 40     // 16 bits, EXT_* below
#define BPB_RootClus 44     // 32 bits

// BPB_ExtFlags: with EXT_NOT_MIRRORED set, only the FAT copy numbered (from 0)
// by EXT_ACTIVE_FAT is kept current; otherwise every copy is.
#define EXT_ACTIVE_FAT 0x0F
#define EXT_NOT_MIRRORED 0x80

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

// Value of FatLink for a cluster whose entry lies outside the FAT image.
#define NO_FAT_ENTRY 0xFFFFFFFFu

// Entries of `bits` bits (32, 16, or else 12) that `bytes` bytes of FAT hold whole.
inline ULONGLONG FatEntriesIn(ULONGLONG bytes, DWORD bits)
{
    return bits == 32 ? bytes / 4 : bits == 16 ? bytes / 2 : bytes * 2 / 3;
}

// The link of `cluster` in a FAT image with `bits`-bit entries that holds its
// entry whole (28 bits of a FAT32 entry). Only for loops bounded by
// FatEntriesIn; everything else asks FatLink.
inline DWORD FatEntryAt(const BYTE *fat, DWORD bits, DWORD cluster)
{
    if (bits == 32)
        return ld_32(&fat[(ULONGLONG)cluster * 4]) & FAT32_MASK;
    if (bits == 16)
        return ld_16(&fat[(ULONGLONG)cluster * 2]);
    const WORD pair = ld_16(&fat[(ULONGLONG)cluster + cluster / 2]);
    return (cluster & 1) ? (DWORD)(pair >> 4) : (DWORD)(pair & 0xFFF);
}

// The link of `cluster` in a FAT image of `bytes` bytes with `bits`-bit
// entries, or NO_FAT_ENTRY when the image does not hold the whole entry.
inline DWORD FatLink(const BYTE *fat, ULONGLONG bytes, DWORD bits, DWORD cluster)
{
    return cluster < FatEntriesIn(bytes, bits) ? FatEntryAt(fat, bits, cluster) : NO_FAT_ENTRY;
}

// First cluster of a directory entry on a volume with `fatBits`-bit entries:
// FAT12 and FAT16 have only the low 16 bits; on FAT32 it is the whole 32-bit
// value of both words, so that a number above the 28 bits of a cluster is out
// of range rather than taken for the cluster its low 28 bits name.
inline DWORD FirstClusterOf(const BYTE *entry, DWORD fatBits)
{
    const DWORD low = ld_16(&entry[DIR_FstClusLO]);
    return fatBits == 32 ? low | (DWORD)ld_16(&entry[DIR_FstClusHI]) << 16 : low;
}
