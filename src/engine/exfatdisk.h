// The on-disk exFAT layout: named offsets of the main boot sector and of the
// 32-byte directory entries, the entry types the walk knows, and the two
// checksums. Loaders are fatdisk.h's; no struct is laid over a buffer.
#pragma once

#include "engine/fatdisk.h"

// Main (and backup) boot sector.
#define EX_FileSystemName 3             // 8 bytes: "EXFAT   "
#define EX_MustBeZero 11                // 53 bytes, where a FAT boot sector has its BPB
#define EX_MustBeZeroLength 53
#define EX_VolumeLength 72              // 64 bits, in sectors
#define EX_FatOffset 80                 // 32 bits, sectors from the volume's start
#define EX_FatLength 84                 // 32 bits, sectors of one FAT
#define EX_ClusterHeapOffset 88         // 32 bits, sector of cluster 2
#define EX_ClusterCount 92              // 32 bits
#define EX_FirstClusterOfRootDirectory 96   // 32 bits
#define EX_VolumeFlags 106              // 16 bits, VOLFLAG_* below
#define EX_PercentInUse 112             // 8 bits
#define EX_BytesPerSectorShift 108      // 8 bits, 9 to 12
#define EX_SectorsPerClusterShift 109   // 8 bits, the cluster at most 32 MiB
#define EX_NumberOfFats 110             // 8 bits, 1 or 2
#define EX_BootSignature 510            // 0x55, 0xAA

#define VOLFLAG_ACTIVE_FAT 0x0001       // the second FAT is the current one

// The boot region: the main boot sector, 8 extended boot sectors, the OEM
// parameters and a reserved sector (sectors 0 to 10), then a sector of
// checksums (11); the backup region repeats it from sector 12.
#define EX_BOOT_CHECKSUMMED 11
#define EX_BOOT_REGION 12
#define EX_BACKUP_REGION 12

#define EX_MIN_SECTOR_SHIFT 9
#define EX_MAX_SECTOR_SHIFT 12
#define EX_MAX_CLUSTER_SHIFT 25         // bytes per cluster at most 2^25
#define EX_MAX_CLUSTERS 0xFFFFFFF5u     // cluster numbers below 0xFFFFFFF7

// FAT entries: 32 bits, all of them the cluster number (no mask).
#define EX_FAT_BAD 0xFFFFFFF7u
#define EX_FAT_END 0xFFFFFFFFu
#define EX_FAT_ENTRY 4u

// Directory entries: 32 bytes, a type byte first.
#define EX_EntryType 0
#define EX_TYPE_END 0x00                // this entry and every one after it are unused
#define EX_TYPE_IN_USE 0x80             // bit 7: the entry is in use
#define EX_TYPE_CRITICAL_SECONDARY 0x20 // bit 5 clear: a secondary the walk must understand
// Entry types in use the walk knows.
#define EX_TYPE_BITMAP 0x81
#define EX_TYPE_UPCASE 0x82
#define EX_TYPE_LABEL 0x83
#define EX_TYPE_FILE 0x85
#define EX_TYPE_STREAM 0xC0
#define EX_TYPE_NAME 0xC1
#define EX_TYPE_PRIMARY_MASK 0x40       // bit 6 set: a secondary entry

// File entry (0x85).
#define EXF_SecondaryCount 1            // 8 bits
#define EXF_SetChecksum 2               // 16 bits, over the whole set but these two bytes
#define EXF_FileAttributes 4            // 16 bits, ATTR_DIRECTORY (fatdisk.h) as on FAT
#define EX_MIN_SECONDARIES 2            // a stream entry and at least one name entry
#define EX_MAX_SECONDARIES 18           // a stream entry and 17 name entries (255 characters)

// Stream extension entry (0xC0).
#define EXS_GeneralSecondaryFlags 1     // 8 bits, EXS_FLAG_* below
#define EXS_NameLength 3                // 8 bits, UTF-16 characters
#define EXS_ValidDataLength 8           // 64 bits
#define EXS_FirstCluster 20             // 32 bits
#define EXS_DataLength 24               // 64 bits
#define EXS_FLAG_ALLOCATION_POSSIBLE 0x01
#define EXS_FLAG_NO_FAT_CHAIN 0x02      // the clusters are consecutive; the FAT is not read

// File name entry (0xC1): 15 UTF-16 characters from byte 2.
#define EXN_FileName 2
#define EX_NAME_CHARS 15
#define EX_MAX_NAME 255

// Allocation bitmap entry (0x81).
#define EXB_BitmapFlags 1               // 8 bits: bit 0 set for the second FAT's bitmap
#define EXB_FirstCluster 20             // 32 bits
#define EXB_DataLength 24               // 64 bits

// Up-case table entry (0x82).
#define EXU_FirstCluster 20             // 32 bits
#define EXU_DataLength 24               // 64 bits

inline ULONGLONG ld_64(const BYTE *ptr)
{
    return (ULONGLONG)ld_32(ptr) | ((ULONGLONG)ld_32(ptr + 4) << 32);
}

// The boot region's checksum over `bytes` bytes (sectors 0 to 10), skipping
// VolumeFlags and PercentInUse, which change without the checksum.
inline DWORD ExfatBootChecksum(const BYTE *region, size_t bytes)
{
    DWORD sum = 0;
    for (size_t i = 0; i < bytes; i++) {
        if (i == EX_VolumeFlags || i == EX_VolumeFlags + 1 || i == EX_PercentInUse)
            continue;
        sum = ((sum & 1) ? 0x80000000u : 0) + (sum >> 1) + region[i];
    }
    return sum;
}

// The checksum of a directory entry set of `entries` entries at `set`,
// skipping the file entry's own SetChecksum field.
inline WORD ExfatSetChecksum(const BYTE *set, DWORD entries)
{
    WORD sum = 0;
    for (size_t i = 0; i < (size_t)entries * SZ_DIRE; i++) {
        if (i == EXF_SetChecksum || i == EXF_SetChecksum + 1)
            continue;
        sum = (WORD)(((sum & 1) ? 0x8000u : 0) + (sum >> 1) + set[i]);
    }
    return sum;
}
