// The exFAT boot-sector decoder, the boot region's checksum and the rules a
// volume must pass, written once as a table.
#include "engine/exfatboot.h"

#include <cstring>

namespace {

// Every FAT entry of the volume (clusters 0 to ClusterCount + 1) in one FAT.
ULONGLONG FatBytesNeeded(const ExfatBoot &b)
{
    return ((ULONGLONG)b.clusterCount + 2) * EX_FAT_ENTRY;
}

bool ZeroRun(const BYTE *sector, size_t offset, size_t length)
{
    for (size_t i = 0; i < length; i++)
        if (sector[offset + i] != 0)
            return false;
    return true;
}

// One line a rule: when a boot sector breaks it, and what is then said. Every
// rule needs no more than the boot sector, so the analyzer's probe and the
// engine apply the same table. The shifts are checked before anything is
// sized by them.
const struct {
    ExfatRule rule;
    const char *text;
    bool (*breaks)(const BYTE *s, const ExfatBoot &b);
} Rules[] = {
    {EXRULE_NAME, "no exFAT file system name", [](const BYTE *s, const ExfatBoot &) { return !NamesExfat(s); }},
    // A FAT boot sector's BPB lies where exFAT keeps these bytes zero.
    {EXRULE_MUST_BE_ZERO, "bytes 11 to 63 not zero",
     [](const BYTE *s, const ExfatBoot &) { return !ZeroRun(s, EX_MustBeZero, EX_MustBeZeroLength); }},
    {EXRULE_SECTOR_SHIFT, "BytesPerSectorShift not 9 to 12",
     [](const BYTE *, const ExfatBoot &b) {
         return b.sectorShift < EX_MIN_SECTOR_SHIFT || b.sectorShift > EX_MAX_SECTOR_SHIFT;
     }},
    {EXRULE_CLUSTER_SHIFT, "clusters larger than 32 MiB",
     [](const BYTE *, const ExfatBoot &b) { return b.sectorShift + b.clusterShift > EX_MAX_CLUSTER_SHIFT; }},
    // With two FATs, VolumeFlags names the current one.
    {EXRULE_FAT_COPIES, "NumberOfFats not 1 or 2, or the active FAT not one of them",
     [](const BYTE *, const ExfatBoot &b) { return b.fats < 1 || b.fats > 2 || b.activeFat >= b.fats; }},
    // The FATs follow the boot regions (24 sectors) and lie on the volume.
    {EXRULE_FAT_AREA, "FatOffset or FatLength outside the volume",
     [](const BYTE *, const ExfatBoot &b) {
         return b.fatOffset < 2 * EX_BOOT_REGION || b.fatLength == 0 ||
                (ULONGLONG)b.fatOffset + (ULONGLONG)b.fats * b.fatLength > b.volumeLength;
     }},
    {EXRULE_FAT_TOO_SMALL, "FatLength too small for ClusterCount",
     [](const BYTE *, const ExfatBoot &b) { return (ULONGLONG)b.fatLength * b.bytesPerSector < FatBytesNeeded(b); }},
    {EXRULE_NO_CLUSTER, "ClusterCount 0 or above the largest",
     [](const BYTE *, const ExfatBoot &b) { return b.clusterCount == 0 || b.clusterCount > EX_MAX_CLUSTERS; }},
    // The heap follows the FATs and ends on the volume.
    {EXRULE_HEAP, "ClusterCount or the cluster heap beyond the volume",
     [](const BYTE *, const ExfatBoot &b) {
         return b.heapOffset < (ULONGLONG)b.fatOffset + (ULONGLONG)b.fats * b.fatLength || b.heapEnd > b.volumeLength;
     }},
    {EXRULE_ROOT_CLUSTER, "FirstClusterOfRootDirectory outside the cluster heap",
     [](const BYTE *, const ExfatBoot &b) {
         return b.rootCluster < 2 || b.rootCluster - 2 >= b.clusterCount;
     }},
};

}  // namespace

ExfatBoot DecodeExfatBoot(const BYTE *sector)
{
    ExfatBoot b;
    b.volumeLength = ld_64(&sector[EX_VolumeLength]);
    b.fatOffset = ld_32(&sector[EX_FatOffset]);
    b.fatLength = ld_32(&sector[EX_FatLength]);
    b.heapOffset = ld_32(&sector[EX_ClusterHeapOffset]);
    b.clusterCount = ld_32(&sector[EX_ClusterCount]);
    b.rootCluster = ld_32(&sector[EX_FirstClusterOfRootDirectory]);
    b.sectorShift = sector[EX_BytesPerSectorShift];
    b.clusterShift = sector[EX_SectorsPerClusterShift];
    b.fats = sector[EX_NumberOfFats];
    b.activeFat = (ld_16(&sector[EX_VolumeFlags]) & VOLFLAG_ACTIVE_FAT) != 0 ? 1 : 0;
    // Shifts beyond 63 are refused by the rules; here they only must not be undefined.
    b.bytesPerSector = b.sectorShift < 32 ? 1ull << b.sectorShift : 0;
    b.bytesPerCluster = b.sectorShift + b.clusterShift < 48 ? 1ull << (b.sectorShift + b.clusterShift) : 0;
    const ULONGLONG sectorsPerCluster = b.clusterShift < 32 ? 1ull << b.clusterShift : 0;
    b.heapEnd = (ULONGLONG)b.heapOffset + (ULONGLONG)b.clusterCount * sectorsPerCluster;
    return b;
}

bool NamesExfat(const BYTE *sector)
{
    return memcmp(&sector[EX_FileSystemName], "EXFAT   ", 8) == 0;
}

bool BootRegionSound(const BYTE *region, DWORD shift)
{
    const size_t sectorBytes = (size_t)1 << shift;
    if (!NamesExfat(region) || region[EX_BytesPerSectorShift] != shift || region[EX_BootSignature] != 0x55 ||
        region[EX_BootSignature + 1] != 0xAA)
        return false;
    const DWORD sum = ExfatBootChecksum(region, EX_BOOT_CHECKSUMMED * sectorBytes);
    const BYTE *sums = region + EX_BOOT_CHECKSUMMED * sectorBytes;
    for (size_t word = 0; word < sectorBytes / 4; word++)
        if (ld_32(&sums[word * 4]) != sum)
            return false;
    return true;
}

ExfatRule BrokenExfatRule(const BYTE *sector, const ExfatBoot &boot)
{
    for (const auto &line : Rules)
        if (line.breaks(sector, boot))
            return line.rule;
    return EXBOOT_SOUND;
}

const char *ExfatRuleText(ExfatRule rule)
{
    for (const auto &line : Rules)
        if (line.rule == rule)
            return line.text;
    return "";
}
