// Recognition of a volume's first sector: a FAT boot sector the analysis
// reads (or the field it would refuse), exFAT, NTFS, a partition table, or
// what is missing. A FAT boot sector is decoded and judged by engine/fatboot.h.
#include "cli/probe.h"

#include <cstdio>
#include <cstring>

#include "engine/fatboot.h"

namespace {

// Boot-sector offsets outside the BIOS parameter block.
const size_t BS_OEMName = 3;          // 8 bytes: "EXFAT   ", "NTFS    "
const size_t BS_FilSysType16 = 54;    // 8 bytes: "FAT12   ", "FAT16   "
const size_t BS_FilSysType32 = 82;    // 8 bytes: "FAT32   "

bool NamedAt(const uint8_t *sector, size_t offset, const char *name)
{
    return memcmp(&sector[offset], name, strlen(name)) == 0;
}

// A boot sector that was meant to be a FAT one: an x86 jump to its boot
// code, or a FAT type label.
bool LooksLikeFat(const uint8_t *boot)
{
    return (boot[0] == 0xEB && boot[2] == 0x90) || boot[0] == 0xE9 || NamedAt(boot, BS_FilSysType16, "FAT1") ||
           NamedAt(boot, BS_FilSysType32, "FAT32");
}

// The master boot record: a boot signature, every entry's status byte 0x00 or
// 0x80, and at least one entry in use.
bool HoldsPartitionEntries(const uint8_t *sector)
{
    if (!HasSignature(sector))
        return false;
    bool used = false;
    for (size_t i = 0; i < 4; i++) {
        const uint8_t *entry = &sector[MBR_Entries + i * MBR_EntrySize];
        if (entry[PE_Status] != 0x00 && entry[PE_Status] != 0x80)
            return false;
        used = used || (entry[PE_Type] != 0 && ld_32(&entry[PE_Sectors]) != 0);
    }
    return used;
}

// What the probe names for each rule it applies (fatboot.cpp says which).
std::string FieldFault(const FatBoot &b, BootRule rule)
{
    char fault[96];
    const unsigned long long clusters = b.clusters;
    switch (rule) {
    case RULE_SECTOR_SIZE:
        snprintf(fault, sizeof fault, "%u bytes per sector (only 512 are read)", (unsigned)b.bytesPerSector);
        break;
    case RULE_CLUSTER_SIZE:
        snprintf(fault, sizeof fault, "%u sectors per cluster", (unsigned)b.sectorsPerCluster);
        break;
    case RULE_RESERVED:
        return "no reserved sectors";
    case RULE_FAT_COPIES:
    case RULE_FAT_SIZE:
        return "no FAT";
    case RULE_ACTIVE_FAT:
        snprintf(fault, sizeof fault, "active FAT %u of %u (numbered from 0)", (unsigned)b.activeFat, (unsigned)b.fats);
        break;
    case RULE_ROOT_KIND:
    case RULE_ROOT_SECTOR:
        snprintf(fault, sizeof fault, "%u root directory entries", (unsigned)b.rootEntries);
        break;
    case RULE_NO_SECTORS:
        return "0 sectors";
    case RULE_NO_CLUSTER:
        snprintf(fault, sizeof fault, "no data cluster in its %u sectors", (unsigned)b.totalSectors);
        break;
    case RULE_CLUSTERS_16:
    case RULE_CLUSTERS_32:
        snprintf(fault, sizeof fault, "%llu clusters, too many", clusters);
        break;
    case RULE_FAT_TOO_SMALL:
        snprintf(fault, sizeof fault, "a FAT of %u sectors, too small for %llu clusters", (unsigned)b.sectorsPerFat,
                 clusters);
        break;
    case RULE_ROOT_CLUSTER:
        snprintf(fault, sizeof fault, "root directory cluster %u outside the volume", (unsigned)b.rootCluster);
        break;
    default:   // BOOT_SOUND, and the rules the probe leaves to others
        return std::string();
    }
    return fault;
}

}  // namespace

bool HasSignature(const uint8_t *sector)
{
    return sector[BS_Signature] == 0x55 && sector[BS_Signature + 1] == 0xAA;
}

std::string FatBootFault(const uint8_t *boot)
{
    const FatBoot decoded = DecodeFatBoot(boot);
    return FieldFault(decoded, BrokenRule(decoded, LAYER_PROBE));
}

const char *FatKind(const uint8_t *boot)
{
    switch (DecodeFatBoot(boot).fatBits) {
    case 12: return "FAT12";
    case 16: return "FAT16";
    default: return "FAT32";
    }
}

bool HoldsPartitionTable(const uint8_t *sector)
{
    return !FatBootFault(sector).empty() && HoldsPartitionEntries(sector);
}

Probe ProbeSector(const uint8_t *sector, size_t bytes)
{
    if (bytes < SECTOR_SIZE)
        return {Content::TooSmall, "too small: " + std::to_string(bytes) + " bytes"};
    if (FatBootFault(sector).empty())
        return {Content::Fat, FatKind(sector)};
    if (NamedAt(sector, BS_OEMName, "EXFAT   "))
        return {Content::ExFat, "exFAT"};
    if (NamedAt(sector, BS_OEMName, "NTFS    "))
        return {Content::Ntfs, "NTFS"};
    size_t zeros = 0;
    while (zeros < SECTOR_SIZE && sector[zeros] == 0)
        zeros++;
    if (zeros == SECTOR_SIZE)
        return {Content::Empty, "empty: the first sector is all zeros"};
    if (HoldsPartitionEntries(sector))
        return {Content::PartitionTable, "a partition table"};
    if (LooksLikeFat(sector))
        return {Content::FatBadField, "a FAT boot sector with a bad field: " + FatBootFault(sector)};
    if (!HasSignature(sector))
        return {Content::NoSignature, "no boot signature (0x55AA at 510)"};
    return {Content::Unknown, "no file system recognised"};
}
