// Recognition of a volume's first sector: a FAT boot sector the analysis
// reads (or the field it would refuse), exFAT, NTFS, a partition table, or
// what is missing. Bytes are decoded through the named offsets of fatdisk.h.
#include "cli/probe.h"

#include <cstdio>
#include <cstring>

#include "engine/fatdisk.h"

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

// Data clusters of the volume; false when the data area does not begin
// before the volume's end.
bool CountClusters(const uint8_t *boot, uint64_t *clusters)
{
    const uint32_t perCluster = boot[BPB_SecPerClus];
    const uint64_t start = DataStartOf(boot), total = TotalSectorsOf(boot);
    if (perCluster == 0 || start >= total)
        return false;
    *clusters = (total - start) / perCluster;
    return true;
}

}  // namespace

bool HasSignature(const uint8_t *sector)
{
    return sector[BS_Signature] == 0x55 && sector[BS_Signature + 1] == 0xAA;
}

std::string FatBootFault(const uint8_t *boot)
{
    char fault[96];
    const bool fat32 = IsFat32Boot(boot);
    const uint32_t bytesPerSector = ld_16(&boot[BPB_BytsPerSec]);
    const uint32_t perCluster = boot[BPB_SecPerClus];
    const uint32_t rootEntries = ld_16(&boot[BPB_RootEntCnt]);
    const uint32_t total = TotalSectorsOf(boot);
    uint64_t clusters = 0;
    if (bytesPerSector != SECTOR_SIZE)
        snprintf(fault, sizeof fault, "%u bytes per sector (only 512 are read)", bytesPerSector);
    else if (perCluster == 0 || perCluster > 128 || (perCluster & (perCluster - 1)) != 0)
        snprintf(fault, sizeof fault, "%u sectors per cluster", perCluster);
    else if (ld_16(&boot[BPB_RsvdSecCnt]) == 0)
        snprintf(fault, sizeof fault, "no reserved sectors");
    else if (boot[BPB_NumFATs] == 0 || SectorsPerFatOf(boot) == 0)
        snprintf(fault, sizeof fault, "no FAT");
    else if (fat32 ? rootEntries != 0 : rootEntries * SZ_DIRE < SECTOR_SIZE)
        snprintf(fault, sizeof fault, "%u root directory entries", rootEntries);
    else if (total == 0)
        snprintf(fault, sizeof fault, "0 sectors");
    else if (!CountClusters(boot, &clusters) || clusters == 0)
        snprintf(fault, sizeof fault, "no data cluster in its %u sectors", total);
    else if (clusters > (fat32 ? FAT32_MAX_CLUSTERS : FAT16_MAX_CLUSTERS))
        snprintf(fault, sizeof fault, "%llu clusters, too many", (unsigned long long)clusters);
    else if (FatSectorsFor(clusters, FatBitsFor(fat32, (DWORD)clusters)) > SectorsPerFatOf(boot))
        snprintf(fault, sizeof fault, "a FAT of %u sectors, too small for %llu clusters", (unsigned)SectorsPerFatOf(boot),
                 (unsigned long long)clusters);
    else if (fat32 && (ld_32(&boot[BPB_RootClus]) < 2 || ld_32(&boot[BPB_RootClus]) - 2 >= clusters))
        snprintf(fault, sizeof fault, "root directory cluster %u outside the volume", (unsigned)ld_32(&boot[BPB_RootClus]));
    else
        return std::string();
    return fault;
}

const char *FatKind(const uint8_t *boot)
{
    uint64_t clusters = 0;
    CountClusters(boot, &clusters);
    switch (FatBitsFor(IsFat32Boot(boot), (DWORD)clusters)) {
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
