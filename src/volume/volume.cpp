// The volume services: OpenVolume, KivNTInitialize and GetDiskStats, run on
// the UI thread in this order by every analysis start.
#include "volume/volume.h"

#include <new>

#include "app/kivifat.h"
#include "engine/fatdisk.h"

LOG_IO_DP_DRIVE *Drive;
REAL_FAT_SA RealFatSa;
ULONGLONG ClusterSize;
ULONGLONG TotalSpace;
ULONGLONG FreeSpace;

bool OpenVolume()
{
    delete Drive;
    Drive = nullptr;

    DSTRING dosName;
    DSTRING ntName;
    if (!dosName.Initialize(cDrive) || !IFS_SYSTEM::DosDriveNameToNtDriveName(&dosName, &ntName))
        return false;
    // A drive whose initialisation fails stays in Drive until the next open.
    Drive = new (std::nothrow) LOG_IO_DP_DRIVE;
    return Drive != nullptr && Drive->Initialize(&ntName, nullptr, FALSE);
}

bool KivNTInitialize()
{
    MESSAGE message;
    if (Drive == nullptr || !RealFatSa.Initialize(Drive, &message, TRUE) || !RealFatSa.Read(&message)) {
        ErrorBox("ERROR - KivNTInitialize");
        return false;
    }
    return true;
}

bool GetDiskStats()
{
    const ULONGLONG perCluster = RealFatSa.QuerySectorsPerCluster() ? RealFatSa.QuerySectorsPerCluster() : 256;
    ClusterSize = perCluster * SECTOR_SIZE;
    TotalSpace = (ULONGLONG)RealFatSa.QueryClusterCount() * ClusterSize;
    // Free sectors are truncated to whole clusters, then to thousands of bytes.
    FreeSpace = RealFatSa.QueryFreeSectors() / perCluster * ClusterSize / 1000;

    HDC hdc = GetDC(hWndMain);
    UpdateDiskStats(hdc);
    ReleaseDC(hWndMain, hdc);
    return true;
}
