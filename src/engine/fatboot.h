// The FAT boot sector decoded once, from bytes: its fields and every value
// derived from them, and the rules a volume must pass to be read, each with
// the layers that apply it. The volume services' super-area, the engine and
// the analyzer's first-sector probe all decode and judge boot sectors here.
#pragma once

#include "engine/fatdisk.h"

struct FatBoot {
    // Fields as stored.
    DWORD bytesPerSector;
    DWORD sectorsPerCluster;   // 0 to 255; the super-area takes 0 for 256
    DWORD reservedSectors;     // before the first FAT copy
    DWORD fats;                // FAT copies
    DWORD rootEntries;         // 32-byte entries of a FAT12/FAT16 root directory
    DWORD totalSectors;        // the 16-bit count, or the 32-bit one when that is 0
    DWORD sectorsPerFat;       // per copy: the 16-bit size, or the 32-bit one when that is 0
    bool fat32;                // a FAT32 boot sector: its 16-bit FAT size is 0
    DWORD rootCluster;         // first cluster of the root directory (meaningful on FAT32 only)
    bool fatMirrored;          // every FAT copy is kept current (FAT12/FAT16 always)
    DWORD activeFat;           // the copy kept current when not mirrored, from 0; else 0

    // Derived.
    ULONGLONG dataStart;       // first sector of the data area (cluster 2)
    ULONGLONG clusters;        // whole clusters from dataStart to the end; 0 when it starts past the end
    DWORD fatBits;             // 12, 16 or 32
    ULONGLONG fatSectorsUsed;  // sectors of a copy holding the entries of clusters 0 to clusters + 1
};

// Decodes the 512-byte boot sector `sector`. Nothing is checked: every value
// is defined for any bytes, computed in 64 bits where it can overflow.
FatBoot DecodeFatBoot(const BYTE *sector);

// Moves the data area's start to sector `dataStart` and derives the values
// that follow from it again: the engine takes that start from the super-area.
void PlaceDataArea(FatBoot *boot, ULONGLONG dataStart);

// Whole sectors of the root directory that are read: none on FAT32, where
// the root is a chain.
DWORD RootSectorsRead(const FatBoot &boot);

// First sector of FAT copy `copy`.
ULONGLONG FatCopyStart(const FatBoot &boot, DWORD copy);

// The layers that judge a boot sector.
enum BootLayer {
    LAYER_SUPER_AREA = 1,   // REAL_FAT_SA::Read: yes or no
    LAYER_ENGINE = 2,       // PrepareVolume: its message for the rule
    LAYER_PROBE = 4,        // the analyzer's first-sector probe: the field it names
};

// The rules, in the order every layer checks them; a layer stops at the first
// of its own rules that the boot sector breaks (the table in fatboot.cpp says
// which layers apply which rule, and why they differ).
enum BootRule {
    RULE_SECTOR_SIZE,
    RULE_CLUSTER_SIZE,
    RULE_CLUSTER_SIZE_256,
    RULE_RESERVED,
    RULE_FAT_COPIES,
    RULE_FAT_SIZE,
    RULE_ACTIVE_FAT,
    RULE_ROOT_KIND,
    RULE_ROOT_SECTOR,
    RULE_SYSTEM_AREA,
    RULE_DATA_AREA,
    RULE_NO_SECTORS,
    RULE_NO_CLUSTER,
    RULE_CLUSTERS_16,
    RULE_CLUSTERS_32,
    RULE_FAT_TOO_SMALL,
    RULE_ROOT_CLUSTER,
    BOOT_SOUND,   // no rule broken
};

// The first rule of `layer` that `boot` breaks, or BOOT_SOUND.
BootRule BrokenRule(const FatBoot &boot, BootLayer layer);
