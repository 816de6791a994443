// vantrel-scan: the command-line analyzer. Maps an image file or block device
// to a drive letter and runs the same volume services and volume preparation
// as the window, then prints the volume's geometry and disk statistics.
#include <cstdio>
#include <cstring>

#include "app/kivifat.h"
#include "engine/geometry.h"
#include "volume/volume.h"

namespace {

int Usage()
{
    fprintf(stderr, "usage: vantrel-scan [--drive X:] PATH\n");
    return 2;
}

void PrintReport()
{
    printf("Drive:               %s\n", cDrive);
    printf("FAT:                 %lu-bit\n", (unsigned long)FatBits);
    printf("Bytes per sector:    %lu\n", (unsigned long)BytesPerSector);
    printf("Sectors per cluster: %lu\n", (unsigned long)SectorsPerCluster);
    printf("Reserved sectors:    %lu\n", (unsigned long)BootSectors);
    printf("FAT copies:          %lu of %lu sectors\n", (unsigned long)Fats, (unsigned long)SectorsPerFat);
    printf("Root entries:        %lu\n", (unsigned long)RootDirs);
    printf("Total sectors:       %lu\n", (unsigned long)TotalSectors);
    printf("First data sector:   %lu\n", (unsigned long)Cluster2);
    printf("Data clusters:       %lu\n", (unsigned long)TotalClusters);
    printf("Cluster size:        %llu bytes\n", (unsigned long long)ClusterSize);
    printf("Total space:         %llu KB\n", (unsigned long long)(TotalSpace / 1000));
    printf("Free space:          %llu KB\n", (unsigned long long)FreeSpace);
}

}  // namespace

int main(int argc, char **argv)
{
    char letter = 'V';
    const char *path = nullptr;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--drive") == 0 && i + 1 < argc) {
            const char *drive = argv[++i];
            if (strlen(drive) != 2 || drive[1] != ':' || drive[0] < 'A' || drive[0] > 'Z')
                return Usage();
            letter = drive[0];
        } else if (argv[i][0] == '-' || path != nullptr) {
            return Usage();
        } else {
            path = argv[i];
        }
    }
    if (path == nullptr)
        return Usage();

    const char device[3] = {letter, ':', 0};
    if (!DefineDosDeviceA(DDD_RAW_TARGET_PATH, device, path)) {
        fprintf(stderr, "vantrel-scan: cannot map %s as %s\n", path, device);
        return 2;
    }
    strcpy(cDrive, device);
    if (!OpenVolume()) {
        fprintf(stderr, "vantrel-scan: cannot open %s\n", path);
        return 2;
    }
    if (!KivNTInitialize() || !GetDiskStats() || !PrepareVolume())
        return 2;
    PrintReport();
    return 0;
}
