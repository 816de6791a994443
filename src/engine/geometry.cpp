// Volume geometry and raw sector access: the boot sector's fields and the
// values derived from them, ReadSectors and GetCluster over NtReadFile, and
// the preparation of a volume before its walk.
#include "engine/geometry.h"

#include <cstring>

#include "app/kivifat.h"
#include "engine/fatdisk.h"
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

// Reads `length` bytes at `offset` of the raw volume. A read that returns
// fewer bytes than asked (the end of an image) counts as the end of the file,
// so that nothing ever parses bytes that were not read.
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

// The boot sector read last is a FAT32 one.
bool Fat32Boot;

// Decodes the boot sector's fields into the geometry variables.
void DecodeBootSector(const BYTE *boot)
{
    BytesPerSector = ld_16(&boot[BPB_BytsPerSec]);
    SectorsPerCluster = boot[BPB_SecPerClus];
    BootSectors = ld_16(&boot[BPB_RsvdSecCnt]);
    Fats = boot[BPB_NumFATs];
    RootDirs = ld_16(&boot[BPB_RootEntCnt]);
    TotalSectors = TotalSectorsOf(boot);
    SectorsPerFat = SectorsPerFatOf(boot);
    Fat32Boot = IsFat32Boot(boot);
    RootCluster = ld_32(&boot[BPB_RootClus]);
    if (Fat32Boot)
        RootDirs = 0;
}

// The reason the decoded geometry cannot be read safely, or NULL when it can.
// Checked before any division by it and before any read that it positions.
LPCSTR GeometryFault()
{
    if (BytesPerSector != SECTOR_SIZE)
        return "ERROR - StartDirScanThread - Sector size is not 512 bytes";
    if (SectorsPerCluster == 0 || SectorsPerCluster > 128 || (SectorsPerCluster & (SectorsPerCluster - 1)) != 0)
        return "ERROR - StartDirScanThread - Invalid sectors per cluster";
    if (Fats == 0 || SectorsPerFat == 0 || (!Fat32Boot && RootDirs * SZ_DIRE < SECTOR_SIZE))
        return "ERROR - StartDirScanThread - No FAT or no root directory";
    const ULONGLONG systemArea = (ULONGLONG)BootSectors + (ULONGLONG)Fats * SectorsPerFat +
                                 RootDirs * SZ_DIRE / SECTOR_SIZE;
    if (systemArea > TotalSectors)
        return "ERROR - StartDirScanThread - FAT or root directory beyond the end of the volume";
    if (Cluster2 > TotalSectors)
        return "ERROR - StartDirScanThread - Data area beyond the end of the volume";
    const DWORD clusters = (TotalSectors - Cluster2) / SectorsPerCluster;
    if (Fat32Boot && clusters > FAT32_MAX_CLUSTERS)
        return "ERROR - StartDirScanThread - Too many clusters";
    if (Fat32Boot && (RootCluster < 2 || RootCluster - 2 >= clusters))
        return "ERROR - StartDirScanThread - Root directory cluster outside the volume";
    return NULL;
}

}  // namespace

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
    if (LPCSTR fault = GeometryFault()) {
        ErrorBox(fault);
        return AbandonPreparation();
    }
    TotalClusters = (TotalSectors - Cluster2) / SectorsPerCluster;
    BytesPerCluster = SectorsPerCluster * BytesPerSector;
    FatBits = FatBitsFor(Fat32Boot, TotalClusters);
    // Only the root slots inside the whole sectors read are examined.
    const DWORD rootSectors = RootDirs * SZ_DIRE / SECTOR_SIZE;
    DirEntries = rootSectors * (SECTOR_SIZE / SZ_DIRE);

    // A FAT32 FAT is read only as far as it holds the volume's entries, so a
    // FAT size field larger than the volume costs nothing.
    FatSectors = SectorsPerFat;
    if (FatBits == 32) {
        const DWORD needed = (DWORD)FatSectorsFor(TotalClusters, 32);
        FatSectors = needed < SectorsPerFat ? needed : SectorsPerFat;
    }
    // The second copy follows the first, whatever the boot sector's count of copies.
    hFat = ReadSectors(BootSectors, FatSectors);
    if (hFat == NULL)
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
