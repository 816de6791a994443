// The exFAT boot region decoded once, from bytes: the main boot sector's
// fields and the values derived from them, the region's checksum, the choice
// between the main and the backup region, and the rules a volume must pass to
// be read, as one table. The engine and the analyzer's probe judge exFAT boot
// sectors here.
#pragma once

#include "engine/exfatdisk.h"

struct ExfatBoot {
    // Fields as stored.
    ULONGLONG volumeLength;     // sectors
    DWORD fatOffset;            // sector of the first FAT
    DWORD fatLength;            // sectors of one FAT
    DWORD heapOffset;           // sector of cluster 2
    DWORD clusterCount;
    DWORD rootCluster;
    DWORD sectorShift;          // BytesPerSectorShift
    DWORD clusterShift;         // SectorsPerClusterShift
    DWORD fats;                 // NumberOfFats
    DWORD activeFat;            // 0 or 1, from VolumeFlags

    // Derived, in 64 bits.
    ULONGLONG bytesPerSector;
    ULONGLONG bytesPerCluster;
    ULONGLONG heapEnd;          // sector just past the last cluster
};

// Decodes the main (or backup) boot sector `sector` (at least 512 bytes).
// Nothing is checked: every value is defined for any bytes.
ExfatBoot DecodeExfatBoot(const BYTE *sector);

// True when `sector` names the exFAT file system ("EXFAT   " at byte 3).
bool NamesExfat(const BYTE *sector);

// True when the 12 sectors of (1 << shift) bytes at `region` are a sound boot
// region of that sector size: an exFAT boot sector that says so, with its
// signature, and every 32-bit word of sector 11 equal to the checksum of
// sectors 0 to 10.
bool BootRegionSound(const BYTE *region, DWORD shift);

// The rules, in the order they are checked.
enum ExfatRule {
    EXRULE_NAME,
    EXRULE_MUST_BE_ZERO,
    EXRULE_SECTOR_SHIFT,
    EXRULE_CLUSTER_SHIFT,
    EXRULE_FAT_COPIES,
    EXRULE_FAT_AREA,
    EXRULE_FAT_TOO_SMALL,
    EXRULE_NO_CLUSTER,
    EXRULE_HEAP,
    EXRULE_ROOT_CLUSTER,
    EXBOOT_SOUND,   // no rule broken
};

// The first rule `boot` (decoded from `sector`) breaks, or EXBOOT_SOUND.
ExfatRule BrokenExfatRule(const BYTE *sector, const ExfatBoot &boot);

// What is wrong, in words ("ClusterCount or the cluster heap beyond the volume"),
// for a broken rule; "" for EXBOOT_SOUND.
const char *ExfatRuleText(ExfatRule rule);
