// The analyzer's report, read from the same module variables that the
// results panel draws.
#include "cli/report.h"

#include <cstdio>

#include "app/kivifat.h"
#include "cli/text.h"
#include "engine/geometry.h"
#include "engine/scan.h"
#include "volume/volume.h"

namespace {

ULONGLONG AllocatedPercent()
{
    return TotalSpace != 0 ? TotalFilesSize * 100 / TotalSpace : 0;
}

// Average extents per measured file in hundredths, as the panel shows it.
ULONGLONG AverageHundredths()
{
    return TotalFiles != 0 ? (ULONGLONG)TotalExtents * 100 / TotalFiles : 0;
}

}  // namespace

void PrintText(const Analysis &analysis)
{
    const ULONGLONG average = AverageHundredths();
    printf("Drive              %s (FAT%lu)\n", cDrive, (unsigned long)FatBits);
    printf("Total space        %llu KB\n", TotalSpace / 1000);
    printf("Free space         %llu KB\n", FreeSpace);
    printf("Cluster size       %llu bytes\n", ClusterSize);
    printf("Files              %lu\n", (unsigned long)(TotalFiles + ZeroLengthFileCount));
    printf("Allocated space    %llu KB\n", TotalFilesSize / 1000);
    printf("Allocated          %llu %%\n", AllocatedPercent());
    printf("Fragmented files   %lu\n", (unsigned long)TotalFragFiles);
    printf("Total extents      %lu\n", (unsigned long)TotalExtents);
    printf("Average extents    %llu.%02llu\n", average / 100, average % 100);
    if (TotalFiles != 0) {
        printf("Largest file       %lu KB  %s\n", (unsigned long)(LargestFileSize / 1000),
               Cp437ToUtf8(LargestFileName).c_str());
        printf("Smallest file      %lu bytes  %s\n", (unsigned long)SmallestFileSize,
               Cp437ToUtf8(SmallestFileName).c_str());
        printf("Most extents       %lu  %s\n", (unsigned long)MaxExtents, Cp437ToUtf8(MaxExtentsFileName).c_str());
    }
    printf("%s\n", analysis.completed ? "Fragmentation analysis completed" : "Fragmentation analysis ended on an error");
    if (analysis.listFiles) {
        printf("\nextents\tclusters\tsize\tpath\n");
        for (const MeasuredFile &file : analysis.files)
            printf("%lu\t%u\t%lu\t%s\n", (unsigned long)file.extents, file.clusters, (unsigned long)file.size,
                   Cp437ToUtf8(file.path.c_str()).c_str());
    }
}

void PrintJson(const Analysis &analysis)
{
    const ULONGLONG average = AverageHundredths();
    printf("{\n");
    printf("  \"drive\": %s,\n", JsonString(cDrive).c_str());
    printf("  \"fat_bits\": %lu,\n", (unsigned long)FatBits);
    printf("  \"cluster_size\": %llu,\n", ClusterSize);
    printf("  \"total_space\": %llu,\n", TotalSpace);
    printf("  \"free_space_kb\": %llu,\n", FreeSpace);
    printf("  \"files\": %lu,\n", (unsigned long)(TotalFiles + ZeroLengthFileCount));
    printf("  \"measured_files\": %lu,\n", (unsigned long)TotalFiles);
    printf("  \"zero_length_files\": %lu,\n", (unsigned long)ZeroLengthFileCount);
    printf("  \"allocated_bytes\": %llu,\n", TotalFilesSize);
    printf("  \"allocated_percent\": %llu,\n", AllocatedPercent());
    printf("  \"fragmented_files\": %lu,\n", (unsigned long)TotalFragFiles);
    printf("  \"total_extents\": %lu,\n", (unsigned long)TotalExtents);
    printf("  \"average_extents\": %llu.%02llu,\n", average / 100, average % 100);
    // Every measured file has a size and an extent, so the records are set
    // exactly when a file was measured; until then their names are stale.
    if (LargestFileSize != 0)
        printf("  \"largest_file\": {\"size\": %lu, \"path\": %s},\n", (unsigned long)LargestFileSize,
               JsonString(LargestFileName).c_str());
    else
        printf("  \"largest_file\": null,\n");
    if (SmallestFileSize != 0xFFFFFFFF)
        printf("  \"smallest_file\": {\"size\": %lu, \"path\": %s},\n", (unsigned long)SmallestFileSize,
               JsonString(SmallestFileName).c_str());
    else
        printf("  \"smallest_file\": null,\n");
    if (MaxExtents != 0)
        printf("  \"most_fragmented_file\": {\"extents\": %lu, \"path\": %s},\n", (unsigned long)MaxExtents,
               JsonString(MaxExtentsFileName).c_str());
    else
        printf("  \"most_fragmented_file\": null,\n");
    printf("  \"completed\": %s,\n", analysis.completed ? "true" : "false");
    printf("  \"messages\": [");
    for (size_t i = 0; i < analysis.messages.size(); i++)
        printf("%s%s", i ? ", " : "", JsonString(analysis.messages[i].c_str()).c_str());
    printf("]");
    if (analysis.listFiles) {
        printf(",\n  \"file_list\": [");
        for (size_t i = 0; i < analysis.files.size(); i++) {
            const MeasuredFile &file = analysis.files[i];
            printf("%s\n    {\"extents\": %lu, \"clusters\": %u, \"size\": %lu, \"path\": %s}", i ? "," : "",
                   (unsigned long)file.extents, file.clusters, (unsigned long)file.size,
                   JsonString(file.path.c_str()).c_str());
        }
        printf("%s]", analysis.files.empty() ? "" : "\n  ");
    }
    printf("\n}\n");
}
