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

// The field the probe names for each of its rules (fatboot.cpp says which),
// with up to two numbers.
std::string FieldFault(const FatBoot &b, BootRule rule)
{
    const struct {
        BootRule rule;
        const char *format;
        unsigned long long first, second;
    } texts[] = {
        {RULE_SECTOR_SIZE, "%llu bytes per sector (only 512 are read)", b.bytesPerSector, 0},
        {RULE_CLUSTER_SIZE, "%llu sectors per cluster", b.sectorsPerCluster, 0},
        {RULE_RESERVED, "no reserved sectors", 0, 0},
        {RULE_FAT_COPIES, "no FAT", 0, 0},
        {RULE_FAT_SIZE, "no FAT", 0, 0},
        {RULE_ACTIVE_FAT, "active FAT %llu of %llu (numbered from 0)", b.activeFat, b.fats},
        {RULE_ROOT_KIND, "%llu root directory entries", b.rootEntries, 0},
        {RULE_ROOT_SECTOR, "%llu root directory entries", b.rootEntries, 0},
        {RULE_NO_SECTORS, "0 sectors", 0, 0},
        {RULE_NO_CLUSTER, "no data cluster in its %llu sectors", b.totalSectors, 0},
        {RULE_CLUSTERS_16, "%llu clusters, too many", b.clusters, 0},
        {RULE_CLUSTERS_32, "%llu clusters, too many", b.clusters, 0},
        {RULE_FAT_TOO_SMALL, "a FAT of %llu sectors, too small for %llu clusters", b.sectorsPerFat, b.clusters},
        {RULE_ROOT_CLUSTER, "root directory cluster %llu outside the volume", b.rootCluster, 0},
    };
    for (const auto &text : texts) {
        if (text.rule == rule) {
            char fault[96];
            snprintf(fault, sizeof fault, text.format, text.first, text.second);
            return fault;
        }
    }
    return std::string();   // BOOT_SOUND
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
