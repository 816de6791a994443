// Volume geometry and raw sector access: the boot sector's fields and the
// values derived from them, ReadSectors and GetCluster over NtReadFile, and
// the preparation of a volume before its walk.
#include "engine/geometry.h"

#include <cstring>

#include "app/kivifat.h"
#include "engine/fatboot.h"
#include "volume/volume.h"

DWORD BytesPerSector;
DWORD SectorsPerCluster;
DWORD BootSectors;
DWORD Fats;
DWORD RootDirs;
DWORD TotalSectors;
DWORD SectorsPerFat;
DWORD Cluster2;
DWORD TotalClusters;
DWORD BytesPerCluster;
DWORD FatBits;
DWORD RootCluster;

HANDLE hVolumes = INVALID_HANDLE_VALUE;
HGLOBAL hFat;
DWORD FatSectors;
HGLOBAL hTmp;
DWORD DirEntries;

namespace {

void FreeBlock(HGLOBAL &block)
{
    if (block != NULL)
        GlobalFree(block);
    block = NULL;
}

// Frees what a failed preparation has opened and read so far.
bool AbandonPreparation()
{
    FreeBlock(hTmp);
    FreeBlock(hFat);
    CloseVolume();
    return false;
}

// The boot sector read last, decoded.
FatBoot Boot;

// Decodes the boot sector's fields into the geometry variables.
void DecodeBootSector(const BYTE *sector)
{
    Boot = DecodeFatBoot(sector);
    BytesPerSector = Boot.bytesPerSector;
    SectorsPerCluster = Boot.sectorsPerCluster;
    BootSectors = Boot.reservedSectors;
    Fats = Boot.fats;
    RootDirs = Boot.fat32 ? 0 : Boot.rootEntries;
    TotalSectors = Boot.totalSectors;
    SectorsPerFat = Boot.sectorsPerFat;
    RootCluster = Boot.rootCluster;
}

// The engine's message for each of its rules (fatboot.cpp says which rules
// are the engine's). Each is shown before any division by the geometry and
// before any read that it positions.
const char NoFat[] = "ERROR - StartDirScanThread - No FAT or no root directory";
const struct {
    BootRule rule;
    LPCSTR message;
} Refusals[] = {
    {RULE_SECTOR_SIZE, "ERROR - StartDirScanThread - Sector size is not 512 bytes"},
    {RULE_CLUSTER_SIZE, "ERROR - StartDirScanThread - Invalid sectors per cluster"},
    {RULE_FAT_COPIES, NoFat},
    {RULE_FAT_SIZE, NoFat},
    {RULE_ACTIVE_FAT, NoFat},
    {RULE_ROOT_SECTOR, NoFat},
    {RULE_SYSTEM_AREA, "ERROR - StartDirScanThread - FAT or root directory beyond the end of the volume"},
    {RULE_DATA_AREA, "ERROR - StartDirScanThread - Data area beyond the end of the volume"},
    {RULE_CLUSTERS_32, "ERROR - StartDirScanThread - Too many clusters"},
    {RULE_ROOT_CLUSTER, "ERROR - StartDirScanThread - Root directory cluster outside the volume"},
};

// The reason the decoded geometry cannot be read safely, or NULL when it can.
LPCSTR GeometryFault()
{
    const BootRule broken = BrokenRule(Boot, LAYER_ENGINE);
    for (const auto &refusal : Refusals)
        if (refusal.rule == broken)
            return refusal.message;
    return NULL;
}

}  // namespace

NTSTATUS ReadVolume(ULONGLONG offset, ULONG length, void *destination)
{
    IO_STATUS_BLOCK status;
    LARGE_INTEGER position;
    position.QuadPart = (LONGLONG)offset;
    NTSTATUS result = NtReadFile(hVolumes, NULL, NULL, NULL, &status, destination, length, &position, NULL);
    if (result == 0 && status.Information != length)
        result = STATUS_END_OF_FILE;
    return result;
}

void PrefetchCluster(DWORD cluster)
{
    if (cluster < 2 || cluster - 2 >= TotalClusters)
        return;
    const ULONGLONG offset = ((ULONGLONG)(cluster - 2) * SectorsPerCluster + Cluster2) * BytesPerSector;
    PrefetchRange(hVolumes, offset, BytesPerCluster < 4096 ? BytesPerCluster : 4096);
}

void CloseVolume()
{
    if (hVolumes != INVALID_HANDLE_VALUE)
        CloseHandle(hVolumes);
    hVolumes = INVALID_HANDLE_VALUE;
}

HGLOBAL ReadSectors(DWORD first, DWORD count)
{
    const SIZE_T bytes = (SIZE_T)count * SECTOR_SIZE;
    HGLOBAL block = GlobalAlloc(GHND, bytes);
    if (block == NULL) {
        ErrorHandling("Error number %ld occured during ReadSectors - GlobalAlloc.");
        return NULL;
    }
    BYTE *data = (BYTE *)GlobalLock(block);
    if (data == NULL) {
        ErrorHandling("Error number %ld occured during ReadSectors - GlobalLock.");
        GlobalFree(block);
        return NULL;
    }
    const NTSTATUS status = ReadVolume((ULONGLONG)first * SECTOR_SIZE, (ULONG)bytes, data);
    if (status != 0) {
        wsprintfA(cString, "Error number 0x%0X occured during ReadSectors - NtReadFile.", status);
        ErrorBox(cString);
        GlobalFree(block);
        return NULL;
    }
    GlobalUnlock(block);
    return block;
}

NTSTATUS ReadClusterSectors(DWORD cluster, DWORD first, DWORD count, BYTE *clusterData)
{
    // Clusters 0 and 1 have no place on the disk; a cluster whose sectors lie
    // past the volume's end is not read either.
    if (cluster < 2 || first + count > SectorsPerCluster)
        return STATUS_INVALID_PARAMETER;
    const ULONGLONG offset = ((ULONGLONG)(cluster - 2) * SectorsPerCluster + Cluster2) * BytesPerSector;
    const ULONGLONG volumeEnd = (ULONGLONG)TotalSectors * BytesPerSector;
    if (offset + BytesPerCluster > volumeEnd)
        return STATUS_END_OF_FILE;
    return ReadVolume(offset + (ULONGLONG)first * BytesPerSector, count * BytesPerSector,
                      clusterData + (size_t)first * BytesPerSector);
}

bool GetCluster(DWORD cluster, DWORD first, DWORD count, BYTE *clusterData)
{
    const NTSTATUS status = ReadClusterSectors(cluster, first, count, clusterData);
    if (status == 0)
        return true;
    memset(clusterData, 0, BytesPerCluster);
    char cMessage[96];
    wsprintfA(cMessage, "Error number 0x%0X occured during GetCluster - NtReadFile", status);
    ErrorBox(cMessage);
    return false;
}

bool PrepareVolume()
{
    // The FAT of the previous analysis is replaced now, and a volume that a
    // preparation left open without a scan to close it is closed.
    FreeBlock(hFat);
    CloseVolume();

    char path[8] = "\\\\.\\";
    strcat(path, cDrive);
    hVolumes = CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                           OPEN_EXISTING, FILE_FLAG_NO_BUFFERING, NULL);
    if (hVolumes == INVALID_HANDLE_VALUE) {
        ErrorHandling("Error number %ld occured during StartDirScanThread - CreateFile.");
        return false;
    }

    HGLOBAL hBoot = ReadSectors(0, 1);
    if (hBoot == NULL)
        return AbandonPreparation();
    const BYTE *boot = (const BYTE *)GlobalLock(hBoot);
    if (boot == NULL) {
        ErrorHandling("Error number %ld occured during StartDirScanThread - GlobalLock.");
        GlobalFree(hBoot);
        return AbandonPreparation();
    }
    DecodeBootSector(boot);
    GlobalUnlock(hBoot);
    GlobalFree(hBoot);

    Cluster2 = RealFatSa.QueryStartDataLbn();
    PlaceDataArea(&Boot, Cluster2);
    if (LPCSTR fault = GeometryFault()) {
        ErrorBox(fault);
        return AbandonPreparation();
    }
    TotalClusters = (DWORD)Boot.clusters;
    BytesPerCluster = SectorsPerCluster * BytesPerSector;
    FatBits = Boot.fatBits;
    // Only the root slots inside the whole sectors read are examined.
    const DWORD rootSectors = RootSectorsRead(Boot);
    DirEntries = rootSectors * (SECTOR_SIZE / SZ_DIRE);

    // A FAT32 FAT is read only as far as it holds the volume's entries, so a
    // FAT size field larger than the volume costs nothing.
    FatSectors = SectorsPerFat;
    if (FatBits == 32 && Boot.fatSectorsUsed < SectorsPerFat)
        FatSectors = (DWORD)Boot.fatSectorsUsed;
    // The copy the volume keeps current: with mirroring off the active one
    // alone, otherwise the first or, when that does not read, the second,
    // which follows the first whatever the boot sector's count of copies. The
    // super-area has read the current copy just before (KivNTInitialize), and
    // hands its image over when it is the one wanted here.
    const DWORD current = (DWORD)FatCopyStart(Boot, Boot.activeFat);
    hFat = RealFatSa.TakeFat(current, FatSectors);
    if (hFat == NULL)
        hFat = ReadSectors(current, FatSectors);
    if (hFat == NULL && Boot.fatMirrored)
        hFat = ReadSectors(BootSectors + SectorsPerFat, FatSectors);
    if (hFat == NULL)
        return AbandonPreparation();
    if (FatBits == 32)
        return true;

    hTmp = ReadSectors(BootSectors + SectorsPerFat * Fats, rootSectors);
    if (hTmp == NULL)
        return AbandonPreparation();
    return true;
}
