// The boot-sector decoder and the rules of the three layers that judge a
// boot sector, written once as a table.
#include "engine/fatboot.h"

namespace {

// Sectors per cluster as the super-area counts them: 0 stands for 256.
DWORD ClusterSectors(const FatBoot &b)
{
    return b.sectorsPerCluster != 0 ? b.sectorsPerCluster : 256;
}

bool PowerOfTwo(DWORD value)
{
    return value != 0 && (value & (value - 1)) == 0;
}

// What the FATs and the root directory's whole sectors occupy after the
// reserved sectors.
ULONGLONG SystemAreaEnd(const FatBoot &b)
{
    return (ULONGLONG)b.reservedSectors + (ULONGLONG)b.fats * b.sectorsPerFat + RootSectorsRead(b);
}

const unsigned S = LAYER_SUPER_AREA, E = LAYER_ENGINE, P = LAYER_PROBE;

// One line a rule: the layers that apply it, and when a boot sector breaks it.
// The probe tells the analyzer's user why the analysis would refuse a volume,
// so it applies every rule of the super-area and of the engine that needs no
// more than the boot sector, except those that another of its rules already
// covers in clearer words.
const struct {
    BootRule rule;
    unsigned layers;
    bool (*breaks)(const FatBoot &b);
} Rules[] = {
    {RULE_SECTOR_SIZE, S | E | P, [](const FatBoot &b) { return b.bytesPerSector != SECTOR_SIZE; }},
    // The engine divides by the cluster size and reads a cluster in one block.
    {RULE_CLUSTER_SIZE, E | P,
     [](const FatBoot &b) { return b.sectorsPerCluster > 128 || !PowerOfTwo(b.sectorsPerCluster); }},
    // Deliberately wider: the super-area takes 0 sectors per cluster for 256.
    {RULE_CLUSTER_SIZE_256, S, [](const FatBoot &b) { return !PowerOfTwo(ClusterSectors(b)); }},
    // The engine reads the FAT wherever the count puts it, the boot sector's place included.
    {RULE_RESERVED, S | P, [](const FatBoot &b) { return b.reservedSectors == 0; }},
    {RULE_FAT_COPIES, S | E | P, [](const FatBoot &b) { return b.fats == 0; }},
    {RULE_FAT_SIZE, S | E | P, [](const FatBoot &b) { return b.sectorsPerFat == 0; }},
    // With mirroring off, only the active copy is current: it must be one of the copies.
    {RULE_ACTIVE_FAT, S | E | P, [](const FatBoot &b) { return b.activeFat >= b.fats; }},
    // The super-area tells FAT32 from FAT12/FAT16 by the root entry count too.
    {RULE_ROOT_KIND, S | P, [](const FatBoot &b) { return (b.rootEntries == 0) != b.fat32; }},
    // The engine reads a FAT12/FAT16 root in whole sectors; the super-area reads no directory.
    {RULE_ROOT_SECTOR, E | P, [](const FatBoot &b) { return !b.fat32 && b.rootEntries * SZ_DIRE < SECTOR_SIZE; }},
    // The super-area and the probe refuse both of these as RULE_NO_CLUSTER.
    {RULE_SYSTEM_AREA, E, [](const FatBoot &b) { return SystemAreaEnd(b) > b.totalSectors; }},
    {RULE_DATA_AREA, E, [](const FatBoot &b) { return b.dataStart > b.totalSectors; }},
    // RULE_NO_CLUSTER says the same of a volume of 0 sectors; the probe names it apart.
    {RULE_NO_SECTORS, S | P, [](const FatBoot &b) { return b.totalSectors == 0; }},
    // The engine walks a volume of no cluster (and finds nothing in it).
    {RULE_NO_CLUSTER, S | P, [](const FatBoot &b) { return b.clusters == 0; }},
    // The engine's chains stop at 16-bit cluster numbers, so a FAT16 volume
    // with more clusters is still walked safely by it.
    {RULE_CLUSTERS_16, S | P, [](const FatBoot &b) { return !b.fat32 && b.clusters > FAT16_MAX_CLUSTERS; }},
    {RULE_CLUSTERS_32, S | E | P, [](const FatBoot &b) { return b.fat32 && b.clusters > FAT32_MAX_CLUSTERS; }},
    // The engine reads no further than the FAT size and bounds every lookup by what it read.
    {RULE_FAT_TOO_SMALL, S | P, [](const FatBoot &b) { return b.fatSectorsUsed > b.sectorsPerFat; }},
    // The super-area reads no directory.
    {RULE_ROOT_CLUSTER, E | P,
     [](const FatBoot &b) { return b.fat32 && (b.rootCluster < 2 || b.rootCluster - 2 >= b.clusters); }},
};

}  // namespace

FatBoot DecodeFatBoot(const BYTE *sector)
{
    FatBoot b;
    b.bytesPerSector = ld_16(&sector[BPB_BytsPerSec]);
    b.sectorsPerCluster = sector[BPB_SecPerClus];
    b.reservedSectors = ld_16(&sector[BPB_RsvdSecCnt]);
    b.fats = sector[BPB_NumFATs];
    b.rootEntries = ld_16(&sector[BPB_RootEntCnt]);
    const DWORD total16 = ld_16(&sector[BPB_TotSec16]);
    b.totalSectors = total16 != 0 ? total16 : ld_32(&sector[BPB_TotSec32]);
    const DWORD perFat16 = ld_16(&sector[BPB_FATSz16]);
    b.fat32 = perFat16 == 0;
    b.sectorsPerFat = b.fat32 ? ld_32(&sector[BPB_FATSz32]) : perFat16;
    b.rootCluster = ld_32(&sector[BPB_RootClus]);
    const DWORD flags = b.fat32 ? ld_16(&sector[BPB_ExtFlags]) : 0;
    b.fatMirrored = (flags & EXT_NOT_MIRRORED) == 0;
    b.activeFat = b.fatMirrored ? 0 : flags & EXT_ACTIVE_FAT;
    // The root directory's sectors count whole, the last one partly used too.
    const ULONGLONG rootSectors = ((ULONGLONG)b.rootEntries * SZ_DIRE + SECTOR_SIZE - 1) / SECTOR_SIZE;
    PlaceDataArea(&b, (ULONGLONG)b.reservedSectors + (ULONGLONG)b.fats * b.sectorsPerFat + rootSectors);
    return b;
}

void PlaceDataArea(FatBoot *boot, ULONGLONG dataStart)
{
    boot->dataStart = dataStart;
    boot->clusters = dataStart < boot->totalSectors ? (boot->totalSectors - dataStart) / ClusterSectors(*boot) : 0;
    // 4087 clusters are still 12-bit, the switch the volume services and the engine share.
    boot->fatBits = boot->fat32 ? 32 : boot->clusters > 4087 ? 16 : 12;
    boot->fatSectorsUsed = ((boot->clusters + 2) * boot->fatBits + 8 * SECTOR_SIZE - 1) / (8 * SECTOR_SIZE);
}

DWORD RootSectorsRead(const FatBoot &boot)
{
    return boot.fat32 ? 0 : boot.rootEntries * SZ_DIRE / SECTOR_SIZE;
}

ULONGLONG FatCopyStart(const FatBoot &boot, DWORD copy)
{
    return (ULONGLONG)boot.reservedSectors + (ULONGLONG)copy * boot.sectorsPerFat;
}

BootRule BrokenRule(const FatBoot &boot, BootLayer layer)
{
    for (const auto &line : Rules)
        if ((line.layers & layer) != 0 && line.breaks(boot))
            return line.rule;
    return BOOT_SOUND;
}
